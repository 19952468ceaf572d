#pragma once

#include "panelcommands.h"
#include "panellink.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QThread;
class PortWorker;

// The line as the desktop program holds it. Every request returns at once
// and its outcome comes back as a signal: the window never waits for a
// port. Requests run in the order they were made, one at a time, so an open
// or a close asked for during an exchange runs after it.
class PanelPort : public QObject
{
    Q_OBJECT
public:
    using Job = std::function<CommandOutcome(PanelCommands &)>;

    using QObject::QObject;
    // Opens port number n (closing the one that is open); opened() tells.
    virtual void open(int portNumber) = 0;
    virtual void close() = 0;
    // Runs one panel command over the link; finished() tells. The job runs
    // on the line's thread: it takes copies, never references.
    virtual void run(const LinkOptions &options, const Job &job) = 0;
    // Whether the link writes a trace (the debug window is open).
    virtual void setTraceWanted(bool wanted) = 0;
    // The program is ending: an exchange in hand writes its frame whole
    // and waits for no answer.
    virtual void finishSoon() = 0;

Q_SIGNALS:
    // A network device is being connected to (it may take seconds).
    void connecting(const QString &device);
    void opened(bool ok, const QString &reason);
    void finished(const CommandOutcome &outcome);
    // The device went away; the next activation opens it again.
    void lost(const QString &reason);
    // The link's texts, in the order it gave them.
    void statusAppended(const QString &text);
    void traceStarted(const QString &text);
    void traceAppended(const QString &text);
    // How far the frame in hand has gone (LinkListener::frameProgress).
    void frameProgress(qsizetype written, qsizetype total, qint64 msLeft);
};

// The real one, over a serial port or a serial device server's TCP port
// ("tcp://HOST:PORT" as the device). A worker on a thread of its own owns
// the line, the clock and the link and waits by blocking there, so nothing
// the windows do (a modal dialog, a file dialog) can hold a frame in the
// middle, and nothing the line does (a connection that takes seconds) can
// hold the windows.
class SerialPanelPort : public PanelPort
{
    Q_OBJECT
public:
    explicit SerialPanelPort(QObject *parent = nullptr);
    // Ends within the remaining wire time of an exchange in hand.
    ~SerialPanelPort() override;
    void open(int portNumber) override;
    // Opens a device by name ("/dev/ttyUSB0", "tcp://HOST:PORT").
    void openDevice(const QString &device);
    // A line that went away is opened again before the next request runs
    // (a service that owns its lines for good).
    void setReopenBeforeRequests(bool reopen);
    void close() override;
    void run(const LinkOptions &options, const Job &job) override;
    void setTraceWanted(bool wanted) override;
    void finishSoon() override;

private:
    QThread *m_thread;
    PortWorker *m_worker; // lives on m_thread
    std::shared_ptr<std::atomic<bool>> m_stop;
};
