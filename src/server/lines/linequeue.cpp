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
    // Its deadline is kept by the clock, not by the end of the exchange on
    // the wire: a request that waits too long hears so when it is due.
    if (job->deadlineMs > 0) {
        const std::weak_ptr<PanelJob> weak = job;
        m_clock.after(std::max<qint64>(0, job->deadlineMs - m_clock.monotonicMs()) + 1, this,
                      [this, weak] { expire(weak.lock()); });
    }
    m_waiting.push_back(std::move(job));
    startNext();
}

void LineQueue::expire(const PanelJobPtr &job)
{
    const auto it = std::find(m_waiting.begin(), m_waiting.end(), job);
    if (!job || it == m_waiting.end()) return;
    m_waiting.erase(it);
    answer(job, JobResult::End::Expired);
}

PanelJobPtr LineQueue::takeNext()
{
    // The doors (page, API, MQTT, agenda) and the relay's clients share the
    // line: after a relayed frame, a door's request waiting goes first, so
    // relay clients, however many and however busy, never hold the others
    // up for more than one frame. Relay clients take turns among themselves,
    // as each has at most one frame waiting and the next joins at the back.
    auto it = m_waiting.begin();
    if (m_lastWasRelay)
        it = std::find_if(m_waiting.begin(), m_waiting.end(), [](const PanelJobPtr &j) {
            return j->kind != PanelJob::Kind::Relay;
        });
    if (it == m_waiting.end()) it = m_waiting.begin();
    PanelJobPtr job = std::move(*it);
    m_waiting.erase(it);
    m_lastWasRelay = job->kind == PanelJob::Kind::Relay;
    return job;
}

void LineQueue::startNext()
{
    while (!m_running && !m_waiting.empty()) {
        PanelJobPtr job = takeNext();
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
