#pragma once

#include "serialline.h"
#include "timebase.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>

// A line the program opens by name: a serial device ("COM3",
// "/dev/ttyUSB0") or a serial device server's raw TCP port
// ("tcp://10.0.0.5:4001"). Every call blocks the calling thread, which is
// the line's owner: the port worker in the desktop program, the main
// thread in the command-line tool.
class DeviceLine : public QObject, public SerialLine
{
    Q_OBJECT
public:
    // How long a network line may take to connect, name lookup included.
    static constexpr int kConnectTimeoutMs = 5000;

    using QObject::QObject;
    // On failure returns false with the reason in Portuguese in *error.
    virtual bool open(const QString &device, QString *error = nullptr) = 0;
    virtual void close() = 0;
    // Blocks until bytes come in, the line fails, or ms pass; true when
    // something happened.
    virtual bool waitForActivity(int ms) = 0;

    // A line of the kind the name asks for, not yet open.
    static std::unique_ptr<DeviceLine> forDevice(const QString &device, QObject *parent = nullptr);
    static bool isNetworkDevice(const QString &device);

Q_SIGNALS:
    // The device went away (a USB adapter pulled out, a connection dropped).
    void lost(const QString &reason);
};

// The real clock, waiting on a line's own blocking calls: a wait for an
// answer ends as soon as a byte comes in.
class LineTimebase : public Timebase
{
public:
    LineTimebase() { m_clock.start(); }
    void setLine(DeviceLine *line) { m_line = line; }
    qint64 elapsedMs() const override { return m_clock.elapsed(); }
    qint64 elapsedUs() const override { return m_clock.nsecsElapsed() / 1000; }
    void waitMs(qint64 ms) override;
    void sleepUs(qint64 us) override;

private:
    QElapsedTimer m_clock;
    DeviceLine *m_line = nullptr;
};
