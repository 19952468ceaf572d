#include "linequeue.h"

#include "panelport.h"
#include "serviceclock.h"

#include <algorithm>

QString JobResult::text() const
{
    switch (end) {
    case End::Ran:
        return outcome.statusWithReason();
    case End::Replaced:
        return QStringLiteral("substituído por um texto mais novo");
    case End::Stopping:
        return QStringLiteral("o serviço está parando");
    case End::Expired:
        return QStringLiteral("esperou demais pela linha");
    case End::QueueFull:
        return QStringLiteral("a fila da linha está cheia");
    }
    return {};
}

LineQueue::LineQueue(QString name, std::unique_ptr<PanelPort> port, ServiceClock &clock,
                     QObject *parent)
    : QObject(parent), m_name(std::move(name)), m_port(std::move(port)), m_clock(clock)
{
    connect(m_port.get(), &PanelPort::finished, this, &LineQueue::finished);
}

LineQueue::~LineQueue()
{
    // The port ends its frame whole; whoever still waits hears of it, since
    // no answer will come for them any more.
    m_stopping = true;
    m_port->disconnect(this);
    m_port.reset();
    if (m_running) m_waiting.push_front(std::move(m_running));
    for (const PanelJobPtr &job : m_waiting)
        answer(job, JobResult::End::Stopping);
}

JobResult JobResult::unrun(End end)
{
    JobResult r;
    r.end = end;
    r.outcome.status = status::kFailure;
    r.outcome.reason = r.text();
    return r;
}

void LineQueue::answer(const PanelJobPtr &job, JobResult::End end)
{
    if (job->done) job->done(JobResult::unrun(end));
}

void LineQueue::submit(PanelJobPtr job)
{
    if (m_stopping) return answer(job, JobResult::End::Stopping);
    if (job->kind == PanelJob::Kind::Text) {
        // The newest text for a panel is the only one worth wire time, as
        // long as nothing queued after the older one reaches that panel.
        for (auto it = m_waiting.rbegin(); it != m_waiting.rend(); ++it) {
            const PanelJobPtr &older = *it;
            if (older->kind == PanelJob::Kind::Text && older->panel == job->panel) {
                PanelJobPtr replaced = std::exchange(*it, std::move(job));
                answer(replaced, JobResult::End::Replaced);
                return;
            }
            if (older->reaches(job->address)) break;
        }
    } else if (std::count_if(m_waiting.begin(), m_waiting.end(), [](const PanelJobPtr &j) {
                   return j->kind != PanelJob::Kind::Text;
               }) >= kMaxWaiting) {
        return answer(job, JobResult::End::QueueFull);
    }
    m_waiting.push_back(std::move(job));
    startNext();
}

void LineQueue::startNext()
{
    while (!m_running && !m_waiting.empty()) {
        PanelJobPtr job = std::move(m_waiting.front());
        m_waiting.pop_front();
        const qint64 now = m_clock.monotonicMs();
        if (job->deadlineMs > 0 && now > job->deadlineMs) {
            answer(job, JobResult::End::Expired);
            continue;
        }
        m_running = std::move(job);
        m_runningSinceMs = now;
        m_port->run(m_running->options, m_running->work);
    }
}

void LineQueue::finished(const CommandOutcome &outcome)
{
    if (!m_running) return;
    const PanelJobPtr job = std::move(m_running);
    m_running.reset();
    m_runningSinceMs = -1;
    JobResult r;
    r.outcome = outcome;
    if (job->done) job->done(r);
    Q_EMIT exchanged(*job, r);
    if (m_stopping)
        Q_EMIT idle();
    else
        startNext();
}

void LineQueue::stop()
{
    if (m_stopping) return;
    m_stopping = true;
    std::deque<PanelJobPtr> waiting;
    waiting.swap(m_waiting);
    for (const PanelJobPtr &job : waiting)
        answer(job, JobResult::End::Stopping);
    // The exchange on the wire runs to its end, answer included: its
    // request hears what the panel said, within the exchange's own bound.
    if (!m_running) Q_EMIT idle();
}

bool LineQueue::isStuck() const
{
    const qint64 since = m_runningSinceMs;
    return since >= 0 && m_clock.monotonicMs() - since > kLongestExchangeMs;
}
