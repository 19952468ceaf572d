#pragma once

#include "letreiroservice.h"
#include "schedule.h"
#include "serverconfig.h"

#include <QJsonArray>
#include <QObject>

class ServiceClock;
class StateWriter;

// The agenda at work: the configuration's entries and the editable ones,
// looked at each minute on the service's clock, the last minute covered
// kept across restarts. What is due is sent through the service's one send
// path; what is late or left out, and a send refused, go to the history.
class AgendaRunner : public QObject, public AgendaHooks
{
    Q_OBJECT
public:
    // Hooks itself into the service, which stops it and hands the page its
    // entries.
    explicit AgendaRunner(LetreiroService &service, QObject *parent = nullptr);
    ~AgendaRunner() override;

    // Reads the editable entries and the state, runs what start-up owes
    // (the latest clock syncs) and starts looking each minute. An agenda
    // file that cannot be read is moved aside, to the same name with
    // ".invalida", and the configuration's entries run alone: the returned
    // note says so (in Portuguese); otherwise it is empty.
    QString start();
    // Stops looking: nothing more runs.
    void stop() override { m_stopped = true; }
    QJsonArray json() const override;
    // Replaces the editable entries and keeps them in the agenda file
    // (refused beyond its bounds, see ServerConfig::scheduleTooBig).
    Result<> setEditable(const QList<ScheduleEntry> &entries) override;

private:
    void check();
    void run(const QList<ScheduledRun> &runs);
    void send(const ScheduleEntry &entry, const QString &who);
    void saveState();
    void lookAgain();
    QString setAside(const QString &why);

    LetreiroService &m_service;
    const ServerConfig &m_config;
    ServiceClock &m_clock;
    StateWriter &m_writer;
    Scheduler m_scheduler;
    bool m_stopped = false;
};
