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
    virtual qint64 byteTimeUs() const { return kWireByteUs; }
    // How many bytes the link may queue at once: one on a serial line, whose
    // queue the link paces itself; more for a network line, whose far end
    // paces its own serial side.
    virtual int chunkSize() const { return 1; }
    // A frame could not be written whole. Whatever of it is still queued
    // must never reach the panel; a network line drops its connection for
    // that (and connects again at once).
    virtual void abandonFrame() { discardOutput(); }

    // 11 bits at 2400 baud: the time a byte takes on the panel's wire.
    static constexpr qint64 kWireByteUs = 11 * 1000000 / 2400;
};
