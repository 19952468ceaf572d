#pragma once

#include "paneljob.h"
#include "serverconfig.h"

#include <QObject>

#include <atomic>
#include <deque>
#include <memory>

class PanelPort;
class ServiceClock;

// One line's requests, run one whole exchange at a time through the line's
// port. Its bound: a panel shows one message at a time, so a text for a
// panel takes the place of one still waiting for it (which answers
// Replaced), unless something after that one reaches the panel (a command,
// a relayed frame): then the newer text waits behind it, so a text never
// jumps over an `apaga` sent after it. Commands and relayed frames keep their
// order and are never replaced; at most kMaxWaiting of them wait (one per
// relay client at a time), beyond that a request answers QueueFull.
class LineQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxWaiting = ServerConfig::kLineMaxWaiting;
    // The longest exchange a line can take: the longest frame on the wire
    // (7,509 bytes at 2400 baud: 34.4 s), the panel's answer window, and a
    // network line's connection. A worker busier than this is stuck.
    static constexpr qint64 kLongestExchangeMs = 34400 + 10000 + 5000 + 1000;

    LineQueue(QString name, std::unique_ptr<PanelPort> port, ServiceClock &clock,
              QObject *parent = nullptr);
    ~LineQueue() override;

    // Takes the job; its `done` runs later on this thread (or at once, for
    // a line that is stopping or full).
    void submit(PanelJobPtr job);
    // Nothing new starts; every waiting job answers Stopping at once; the
    // exchange on the wire ends whole, its answer (or the answer's time-out)
    // included, and its job hears it. idle() follows once it is over.
    void stop();
    bool isIdle() const { return !m_running; }
    int waiting() const { return int(m_waiting.size()); }
    // Whether the exchange under way has taken longer than any can; safe
    // from any thread.
    bool isStuck() const;

Q_SIGNALS:
    // An exchange ended (after its job's own callback).
    void exchanged(const PanelJob &job, const JobResult &result);
    void idle();

private:
    void startNext();
    PanelJobPtr takeNext();
    void expire(const PanelJobPtr &job);
    void finished(const CommandOutcome &outcome);
    static void answer(const PanelJobPtr &job, JobResult::End end);

    QString m_name;
    std::unique_ptr<PanelPort> m_port;
    ServiceClock &m_clock;
    std::deque<PanelJobPtr> m_waiting;
    PanelJobPtr m_running;
    std::atomic<qint64> m_runningSinceMs{-1};
    bool m_stopping = false;
    bool m_lastWasRelay = false;
};
