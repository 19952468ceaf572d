#pragma once

#include "serialline.h"

#include <QObject>
#include <QSerialPort>

// The real serial line, at 2400 baud, no parity, 8 data bits, 2 stop bits.
class QtSerialLine : public QObject, public SerialLine
{
    Q_OBJECT
public:
    explicit QtSerialLine(QObject *parent = nullptr);
    ~QtSerialLine() override;

    // Opens a device ("COM3", "/dev/ttyUSB0"). On failure returns false with
    // the reason in Portuguese in *error.
    bool open(const QString &device, QString *error = nullptr);
    void close();
    QString device() const { return m_port.portName(); }

    bool isOpen() const override;
    void discardOutput() override;
    void discardInput() override;
    bool writeByte(quint8 b) override;
    qint64 outputPending() override;
    qint64 inputAvailable() override;
    int readByte() override;
    QString errorString() const override;

Q_SIGNALS:
    // Something happened on the line: bytes came in or went out, or an error.
    void activity();
    // The device went away (a USB adapter pulled out).
    void lost();

private:
    void onError(QSerialPort::SerialPortError e);
    bool hungUp();
    void lose();
    qint64 driverOutputQueue();

    QSerialPort m_port;
    QString m_error;
};
