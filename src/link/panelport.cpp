#include "panelport.h"

#include "deviceline.h"
#include "portnames.h"
#include "timebase.h"

#include <QEventLoop>
#include <QThread>

namespace
{

// Hands the link's texts to the listener on the thread that asked for the
// exchange, in the order the link gave them.
class ForwardingListener : public LinkListener
{
public:
    ForwardingListener(QObject *home, LinkListener *target)
        : m_home(home), m_target(target), m_traceWanted(target && target->traceWanted())
    {
    }
    void statusAppended(const QString &text) override
    {
        post([text](LinkListener &l) { l.statusAppended(text); });
    }
    bool traceWanted() const override { return m_traceWanted; }
    void traceStarted(const QString &text) override
    {
        post([text](LinkListener &l) { l.traceStarted(text); });
    }
    void traceAppended(const QString &text) override
    {
        post([text](LinkListener &l) { l.traceAppended(text); });
    }

private:
    template <typename F> void post(F f)
    {
        if (!m_target) return;
        LinkListener *target = m_target;
        QMetaObject::invokeMethod(
            m_home, [target, f] { f(*target); }, Qt::QueuedConnection);
    }

    QObject *m_home;
    LinkListener *m_target;
    bool m_traceWanted;
};

} // namespace

SerialPanelPort::SerialPanelPort(QObject *parent)
    : PanelPort(parent), m_thread(new QThread(this)), m_worker(new QObject),
      m_time(new EventLoopTimebase(m_worker))
{
    m_thread->setObjectName(QStringLiteral("panel-link"));
    m_worker->moveToThread(m_thread);
    m_thread->start();
    QMetaObject::invokeMethod(
        m_worker, [this] { useLineFor(QString()); }, Qt::BlockingQueuedConnection);
}

SerialPanelPort::~SerialPanelPort()
{
    // The port is closed and its objects go where they live.
    QMetaObject::invokeMethod(
        m_worker,
        [this] {
            m_link.reset();
            m_line.reset();
            delete m_worker;
        },
        Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
}

void SerialPanelPort::useLineFor(const QString &device)
{
    const bool network = DeviceLine::isNetworkDevice(device);
    if (m_line && m_lineIsNetwork == network) return;
    m_link.reset();
    m_line = DeviceLine::forDevice(device);
    m_lineIsNetwork = network;
    connect(m_line.get(), &DeviceLine::activity, m_time, &EventLoopTimebase::wake);
    connect(
        m_line.get(), &DeviceLine::lost, m_worker, [this] { m_open = false; },
        Qt::DirectConnection);
    connect(m_line.get(), &DeviceLine::lost, this, &PanelPort::lost);
    m_link = std::make_unique<PanelLink>(*m_line, *m_time);
}

bool SerialPanelPort::open(int portNumber, QString *reason)
{
    const QString device = portnames::resolve(portNumber);
    if (device.isEmpty()) {
        *reason = QStringLiteral("não há porta serial número %1").arg(portNumber);
        return false;
    }
    // An open port is closed and opened again.
    bool ok = false;
    QMetaObject::invokeMethod(
        m_worker,
        [&] {
            m_line->close();
            useLineFor(device);
            ok = m_line->open(device, reason);
        },
        Qt::BlockingQueuedConnection);
    m_open = ok;
    return ok;
}

void SerialPanelPort::close()
{
    QMetaObject::invokeMethod(
        m_worker, [this] { m_line->close(); }, Qt::BlockingQueuedConnection);
    m_open = false;
}

bool SerialPanelPort::isOpen() const
{
    return m_open;
}

CommandOutcome SerialPanelPort::run(const LinkOptions &options, LinkListener *listener,
                                    const Job &job)
{
    CommandOutcome outcome;
    bool done = false;
    QEventLoop loop;
    auto forward = std::make_shared<ForwardingListener>(this, listener);
    QMetaObject::invokeMethod(
        m_worker,
        [&, forward] {
            m_link->setOptions(options);
            m_link->setListener(forward.get());
            PanelCommands commands(*m_link);
            CommandOutcome result = job(commands);
            m_link->setListener(nullptr);
            QMetaObject::invokeMethod(
                this,
                [&, result] {
                    outcome = result;
                    done = true;
                    loop.quit();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    // Whatever runs its own event loop meanwhile (a modal window) only
    // delays when this returns, never the exchange itself.
    while (!done)
        loop.exec();
    return outcome;
}
