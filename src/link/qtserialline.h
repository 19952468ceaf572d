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
    QString device() const { return m_port.portName(); }

    bool isOpen() const override;
    void discardOutput() override;
    void discardInput() override;
    bool writeByte(quint8 b) override;
    qint64 outputPending() override;
    qint64 inputAvailable() override;
    int readByte() override;
    QString errorString() const override;

private:
    void onError(QSerialPort::SerialPortError e);
    bool hungUp();
    void lose();
    qint64 driverOutputQueue();

    QSerialPort m_port;
    QString m_error;
};
