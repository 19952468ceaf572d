#pragma once

#include "panelcommands.h"
#include "panellink.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QThread;
class DeviceLine;
class EventLoopTimebase;

// The serial line as the desktop program holds it: opened by number at the
// main window's activation, with the link that talks over it.
class PanelPort : public QObject
{
    Q_OBJECT
public:
    using Job = std::function<CommandOutcome(PanelCommands &)>;

    using QObject::QObject;
    // Opens port n; on failure returns false with the reason in Portuguese.
    virtual bool open(int portNumber, QString *reason) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Runs one panel command over the link and returns its outcome. The
    // caller's events keep flowing meanwhile; the listener hears the status
    // and trace texts on the caller's thread.
    virtual CommandOutcome run(const LinkOptions &options, LinkListener *listener,
                               const Job &job) = 0;

Q_SIGNALS:
    // The device went away; the next activation opens it again.
    void lost();
};

// The real one, over a serial port or a serial device server's TCP port
// ("tcp://HOST:PORT" as the port's device). The line and the link live on
// a thread of their own, so
// that nothing the windows do (a modal dialog runs its own event loop on
// top of the exchange's wait) can hold a frame in the middle: bytes keep
// their pacing whatever the operator opens meanwhile.
class SerialPanelPort : public PanelPort
{
    Q_OBJECT
public:
    explicit SerialPanelPort(QObject *parent = nullptr);
    ~SerialPanelPort() override;
    bool open(int portNumber, QString *reason) override;
    void close() override;
    bool isOpen() const override;
    CommandOutcome run(const LinkOptions &options, LinkListener *listener, const Job &job) override;

private:
    // On the link's thread: a line of the kind the device asks for.
    void useLineFor(const QString &device);

    QThread *m_thread;
    // Lives on m_thread, with the line, the clock and the link under it.
    QObject *m_worker;
    EventLoopTimebase *m_time;
    std::unique_ptr<DeviceLine> m_line;
    bool m_lineIsNetwork = false;
    std::unique_ptr<PanelLink> m_link;
    std::atomic<bool> m_open{false};
};
