#pragma once

#include "schedule.h"
#include "serverconfig.h"

#include <QJsonArray>
#include <QObject>

class ServiceClock;
class StateWriter;

// The agenda at work: the configuration's entries and the editable ones,
// looked at each minute on the service's clock, the last minute covered
// kept across restarts. What is due goes to `runEntry`; what is late or
// left out to `note`, for the history.
class AgendaRunner : public QObject
{
    Q_OBJECT
public:
    AgendaRunner(const ServerConfig &config, ServiceClock &clock, StateWriter &writer,
                 QObject *parent = nullptr);

    // Reads the editable entries and the state, runs what start-up owes
    // (the latest clock syncs) and starts looking each minute. An agenda
    // file that cannot be read is moved aside, to the same name with
    // ".invalida", and the configuration's entries run alone: the returned
    // note says so (in Portuguese); otherwise it is empty.
    QString start();
    // Stops looking: nothing more runs.
    void stop() { m_stopped = true; }
    QJsonArray json() const;
    // Replaces the editable entries and keeps them in the agenda file
    // (refused beyond its bounds, see ServerConfig::scheduleTooBig).
    bool setEditable(const QList<ScheduleEntry> &entries, QString *error);

Q_SIGNALS:
    void runEntry(const ScheduleEntry &entry, const QString &who);
    void note(const QString &who, const QString &what, const QString &text);

private:
    void check();
    void take(const QList<ScheduledRun> &runs);
    void saveState();
    void lookAgain();
    QString setAside(const QString &why);

    const ServerConfig &m_config;
    ServiceClock &m_clock;
    StateWriter &m_writer;
    Scheduler m_scheduler;
    bool m_stopped = false;
};
