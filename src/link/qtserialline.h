#pragma once

#include "deviceline.h"

#include <QSerialPort>

// The real serial line, at 2400 baud, no parity, 8 data bits, 2 stop bits.
class QtSerialLine : public DeviceLine
{
    Q_OBJECT
public:
    explicit QtSerialLine(QObject *parent = nullptr);
    ~QtSerialLine() override;

    // Opens a device ("COM3", "/dev/ttyUSB0"). On failure returns false with
    // the reason in Portuguese in *error.
    bool open(const QString &device, QString *error = nullptr) override;
    void close() override;
    bool waitForActivity(int ms) override;

    bool isOpen() const override;
    void discardOutput() override;
    void discardInput() override;
    bool writeByte(quint8 b) override;
    qint64 outputPending() override;
    qint64 inputAvailable() override;
    int readByte() override;
    QString errorString() const override;

    // Why a device that exists and that we may use could not be opened:
    // another program holds it ("a porta está em uso por outro programa",
    // with its process id when its lock file says), or a lock file of a
    // process that ended is left that we may not remove.
    static QString inUseText(const QString &device);

private:
    bool openPort();
    bool leftoverLockRemoved();
    void onError(QSerialPort::SerialPortError e);
    bool hungUp();
    bool farEndGone() const;
    void lose();
    qint64 driverOutputQueue();

    QSerialPort m_port;
    QString m_device;
    QString m_error;
    bool m_opened = false; // by us, and not closed by us since
};
