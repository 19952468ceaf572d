#pragma once

#include <QString>

// The serial line as the link uses it, and nothing more. The real one wraps
// QSerialPort; tests use a fake or a pseudo-terminal.
class SerialLine
{
public:
    virtual ~SerialLine() = default;

    virtual bool isOpen() const = 0;
    // Drops whatever still waits to be sent.
    virtual void discardOutput() = 0;
    // Drops whatever was received and not read.
    virtual void discardInput() = 0;
    // Queues exactly one byte. False on a port error.
    virtual bool writeByte(quint8 b) = 0;
    // Bytes not yet sent: those the program holds and those the driver
    // holds; 0 means the byte has left. -1 on a port error.
    virtual qint64 outputPending() = 0;
    // Received bytes not yet read; -1 on a port error.
    virtual qint64 inputAvailable() = 0;
    // One received byte, or -1 on a port error.
    virtual int readByte() = 0;
    // The last port error, for the operator.
    virtual QString errorString() const = 0;
    // How long one byte takes on the wire once it is queued: 11 bits at
    // 2400 baud on a serial line; nothing the program can know for a
    // network line, whose far end paces the bytes itself.
    virtual qint64 byteTimeUs() const { return 11 * 1000000 / 2400; }
};
