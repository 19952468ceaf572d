#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <functional>
#include <optional>

// What a panel can be told to do, one table for the API, the agenda, MQTT
// and the page: its name, the letter of its data field ('R' and 'D' carry
// the clock or the date), and whether it reaches every panel of the line at
// once (a clock or date sync goes to address 0).
struct PanelCommand {
    QString name;
    char letter;
    bool wholeLine;
};
const QList<PanelCommand> &panelCommands();
// The command of that name, or nullptr.
const PanelCommand *panelCommand(const QString &name);
// Whether a name has a character that would move or hide text in a log, a
// terminal, a listing or an INI file, or that is no character at all:
// control and formatting characters, line and paragraph separators,
// surrogates out of pairs, private use and unassigned code points.
bool hasHiddenCharacter(QStringView name);
// A message of the library is named by a plain ".msg" file name, never a path.
bool isMessageName(const QString &name);

// One entry of the agenda: what the panels are told, and when (a local
// minute, on some weekdays or in a span of dates).
struct ScheduleEntry {
    enum class Action { Text, Message, Command };

    QString name;
    QTime at;
    QList<int> weekdays;       // 1 (seg) .. 7 (dom); empty: every day
    QDate firstDate, lastDate; // both valid: only these days
    QStringList panels;        // empty: every panel ("todos")
    Action action = Action::Text;
    QString value;      // the text, the .msg name or the command
    bool fixed = false; // from the configuration file, not the API's

    // Sets a key of its INI section ("quando", "dias", "datas", "paineis",
    // "texto", "mensagem", "comando"); false with the reason.
    bool set(const QString &key, const QString &value, QString *error);
    // Says what is missing once every key has been read.
    bool complete(QString *error) const;
    // The entry as the INI keys that make it, in their order.
    QList<QPair<QString, QString>> keys() const;
    // The API's form: {"nome", "fixa", and the INI keys as strings}.
    QJsonObject toJson() const;
    // An editable entry from the API's form ("fixa" is ignored); nullopt
    // with the reason.
    static std::optional<ScheduleEntry> fromJson(const QJsonObject &o, QString *error);

    bool runsOn(const QDate &day) const;
    bool isClockSync() const
    {
        const PanelCommand *c = action == Action::Command ? panelCommand(value) : nullptr;
        return c && c->wholeLine;
    }
};

// One run the scheduler asks for, or one it chose not to make; `note`
// says why a run is late or was left out (empty for one on time).
struct ScheduledRun {
    int entry = -1;
    QDateTime due; // the wall clock's reading at the occurrence, held in a UTC QDateTime
    bool skipped = false;
    QString note;
};

// When the agenda's entries run, on an injected clock. Entries are local
// wall-clock minutes; what happens when that clock jumps:
//  - forward (daylight saving starts, the clock is set ahead, the machine
//    slept): what fell inside the jump runs once, late, at once, and says
//    so ("02:30 não existiu hoje" for a minute the change skipped);
//  - back by up to three hours (daylight saving ends, a small correction):
//    nothing runs again; the minutes already covered are passed over until
//    the clock reaches them, and the entries left out say so in the history;
//  - back by more (a clock set wrongly by days): the agenda starts again
//    from the new time, said in the history.
// Entries missed while the service was not running are not made up for,
// except the clock and date syncs (the latest of each runs at start).
class Scheduler
{
public:
    using Clock = std::function<QDateTime()>; // the current instant

    Scheduler(QTimeZone zone, Clock clock);

    void setEntries(QList<ScheduleEntry> entries);
    const QList<ScheduleEntry> &entries() const { return m_entries; }

    // The first look, given the last minute covered before the service
    // stopped (invalid if unknown).
    QList<ScheduledRun> start(const QDateTime &coveredBefore);
    // What became due since the last look.
    QList<ScheduledRun> poll();
    // The last local minute covered, to keep across restarts.
    QDateTime covered() const { return m_covered; }
    // How long until the next look is worth making (the next minute).
    int msUntilNextMinute() const;

private:
    QDateTime wallNow() const;
    QList<ScheduledRun> between(const QDateTime &from, const QDateTime &to) const;

    QTimeZone m_zone;
    Clock m_clock;
    QList<ScheduleEntry> m_entries;
    QDateTime m_covered;  // the high-water mark of the minutes looked at
    QDateTime m_lastSeen; // the previous look, to see the clock going back
};
