#include "panelport.h"

#include "deviceline.h"
#include "portnames.h"
#include "threadhandoff.h"

#include <QThread>

// The line's owner, on the line's thread. Each request is a queued call;
// each runs to its end before the next one starts.
class PortWorker : public QObject
{
public:
    PortWorker(PanelPort *port, std::shared_ptr<std::atomic<bool>> stop)
        : m_port(port), m_stop(std::move(stop))
    {
    }

    void open(int portNumber)
    {
        const QString device = portnames::resolve(portNumber);
        if (device.isEmpty()) {
            if (m_line) m_line->close();
            const QString reason = QStringLiteral("não há porta serial número %1").arg(portNumber);
            post([reason](PanelPort &p) { Q_EMIT p.opened(false, reason); });
            return;
        }
        openDevice(device);
    }

    void openDevice(const QString &device)
    {
        if (m_line) m_line->close();
        if (DeviceLine::isNetworkDevice(device))
            post([device](PanelPort &p) { Q_EMIT p.connecting(device); });
        useLineFor(device);
        m_device = device;
        QString reason;
        const bool ok = m_line->open(device, &reason);
        post([ok, reason](PanelPort &p) { Q_EMIT p.opened(ok, reason); });
    }

    bool reopen = false;

    void close()
    {
        if (m_line) m_line->close();
    }

    void run(const LinkOptions &options, const PanelPort::Job &job)
    {
        if (reopen && m_line && !m_line->isOpen() && !m_device.isEmpty()) {
            QString reason;
            m_line->open(m_device, &reason);
        }
        CommandOutcome outcome;
        if (!m_link) {
            outcome.status = status::kFailure;
            outcome.reason = QStringLiteral("porta de comunicação fechada");
        } else {
            Forwarder forward(this);
            m_link->setOptions(options);
            m_link->setListener(&forward);
            PanelCommands commands(*m_link);
            outcome = job(commands);
            m_link->setListener(nullptr);
            // A request to finish early is for the exchange it met.
            *m_stop = false;
        }
        post([outcome](PanelPort &p) { Q_EMIT p.finished(outcome); });
    }

    // The line and the link go on the thread where their notifiers live.
    void shutDown()
    {
        m_link.reset();
        m_line.reset();
        handoff::release(this); // the port deletes the worker once the thread ends
        QThread::currentThread()->quit();
    }

    std::atomic<bool> traceWanted{false};

private:
    // Hands the link's texts to the port's own thread, in order.
    class Forwarder : public LinkListener
    {
    public:
        explicit Forwarder(PortWorker *w) : m_w(w) {}
        void statusAppended(const QString &t) override
        {
            m_w->post([t](PanelPort &p) { Q_EMIT p.statusAppended(t); });
        }
        bool traceWanted() const override { return m_w->traceWanted; }
        void traceStarted(const QString &t) override
        {
            m_w->post([t](PanelPort &p) { Q_EMIT p.traceStarted(t); });
        }
        void traceAppended(const QString &t) override
        {
            m_w->post([t](PanelPort &p) { Q_EMIT p.traceAppended(t); });
        }
        void frameProgress(qsizetype written, qsizetype total, qint64 msLeft) override
        {
            m_w->post([=](PanelPort &p) { Q_EMIT p.frameProgress(written, total, msLeft); });
        }

    private:
        PortWorker *m_w;
    };

    template <typename F> void post(F f)
    {
        PanelPort *port = m_port;
        handoff::queue(port, [port, f] { f(*port); });
    }

    void useLineFor(const QString &device)
    {
        const bool network = DeviceLine::isNetworkDevice(device);
        if (m_line && m_lineIsNetwork == network) return;
        m_link.reset();
        m_line = DeviceLine::forDevice(device);
        m_lineIsNetwork = network;
        m_time.setLine(m_line.get());
        connect(m_line.get(), &DeviceLine::lost, this, [this](const QString &reason) {
            post([reason](PanelPort &p) { Q_EMIT p.lost(reason); });
        });
        m_link = std::make_unique<PanelLink>(*m_line, m_time);
        m_link->setStopFlag(m_stop.get());
    }

    PanelPort *m_port;
    std::shared_ptr<std::atomic<bool>> m_stop;
    LineTimebase m_time;
    QString m_device;
    std::unique_ptr<DeviceLine> m_line;
    bool m_lineIsNetwork = false;
    std::unique_ptr<PanelLink> m_link;
};

SerialPanelPort::SerialPanelPort(QObject *parent)
    : PanelPort(parent), m_thread(new QThread(this)),
      m_stop(std::make_shared<std::atomic<bool>>(false))
{
    qRegisterMetaType<CommandOutcome>();
    m_worker = new PortWorker(this, m_stop);
    m_thread->setObjectName(QStringLiteral("panel-link"));
    m_worker->moveToThread(m_thread);
    m_thread->start();
}

SerialPanelPort::~SerialPanelPort()
{
    // The worker finishes what it has in hand (a frame is never cut), then
    // closes the line on its own thread and ends the thread's loop.
    finishSoon();
    PortWorker *w = m_worker;
    handoff::queue(w, [w] { w->shutDown(); });
    m_thread->wait();
    handoff::acquire(w);
    delete m_worker;
}

void SerialPanelPort::open(int portNumber)
{
    PortWorker *w = m_worker;
    handoff::queue(w, [w, portNumber] { w->open(portNumber); });
}

void SerialPanelPort::openDevice(const QString &device)
{
    PortWorker *w = m_worker;
    handoff::queue(w, [w, device] { w->openDevice(device); });
}

void SerialPanelPort::setReopenBeforeRequests(bool reopen)
{
    PortWorker *w = m_worker;
    handoff::queue(w, [w, reopen] { w->reopen = reopen; });
}

void SerialPanelPort::close()
{
    PortWorker *w = m_worker;
    handoff::queue(w, [w] { w->close(); });
}

void SerialPanelPort::run(const LinkOptions &options, const Job &job)
{
    PortWorker *w = m_worker;
    handoff::queue(w, [w, options, job] { w->run(options, job); });
}

void SerialPanelPort::setTraceWanted(bool wanted)
{
    m_worker->traceWanted = wanted;
}

void SerialPanelPort::finishSoon()
{
    *m_stop = true;
}
