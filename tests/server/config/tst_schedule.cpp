// The agenda on virtual time: its INI form, the days it runs, and what it
// does when the wall clock jumps (daylight saving in Lisbon, a clock set
// ahead or back, a service that was down).
#include "schedule.h"
#include "serverconfig.h"

#include <QtTest>

const QTimeZone kLisbon("Europe/Lisbon");

static QDateTime local(const QString &text)
{
    return QDateTime::fromString(text, Qt::ISODate).toTimeZone(kLisbon);
}

static ScheduleEntry entry(const QString &name, const QString &at, const QString &extraKey = {},
                           const QString &extraValue = {})
{
    ScheduleEntry e;
    e.name = name;
    QString why;
    e.set(QStringLiteral("quando"), at, &why);
    e.set(QStringLiteral("texto"), name, &why);
    if (!extraKey.isEmpty()) e.set(extraKey, extraValue, &why);
    return e;
}

// A scheduler on a clock the test moves, looking every 30 s as the
// service's timer does; what ran, as "name@local time[!]" (! with a note).
struct VirtualAgenda {
    QDateTime now;
    Scheduler scheduler{kLisbon, [this] { return now; }};
    QStringList log, notes;

    explicit VirtualAgenda(const QString &start, QList<ScheduleEntry> entries) : now(local(start))
    {
        scheduler.setEntries(std::move(entries));
        take(scheduler.start({}));
    }
    void take(const QList<ScheduledRun> &runs)
    {
        for (const ScheduledRun &r : runs) {
            if (!r.note.isEmpty()) notes.append(r.note);
            const QString name = r.entry < 0 ? "agenda" : scheduler.entries().at(r.entry).name;
            log.append(QString("%1%2@%3%4").arg(r.skipped ? "-" : "", name,
                                                now.toTimeZone(kLisbon).toString("MM-dd HH:mm"),
                                                r.note.isEmpty() ? "" : "!"));
        }
    }
    void runFor(qint64 seconds)
    {
        for (qint64 s = 0; s < seconds; s += 30) {
            now = now.addSecs(30);
            take(scheduler.poll());
        }
    }
};

class TestSchedule : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void entriesAsOperatorsWriteThem()
    {
        const QByteArray ini =
            "[servidor]\n[linha sala]\nporta = /dev/null\n[painel entrada]\nlinha = sala\n"
            "[painel caixa]\nlinha = sala\n"
            "[agenda abertura]\nquando = 08:00\ndias = seg,ter, qua,qui,sex,sáb\n"
            "paineis = entrada,caixa\n"
            "texto = \"Bom dia; <Pisca______>Aberto \\\"já\\\"\" ; a comment\n"
            "[agenda natal]\nquando = 18:00\ndatas = 2026-12-24..2026-12-31\nmensagem = natal.msg\n"
            "[agenda relogio]\nquando = 03:00\ncomando = hora\n";
        QString why;
        const auto c = ServerConfig::parse(ini, QStringLiteral("/tmp"), &why);
        QVERIFY2(c, qPrintable(why));
        QCOMPARE(c->schedule.size(), 3);
        const ScheduleEntry &open = c->schedule.at(0);
        QCOMPARE(open.value, QStringLiteral("Bom dia; <Pisca______>Aberto \"já\""));
        QCOMPARE(open.weekdays, (QList<int>{1, 2, 3, 4, 5, 6}));
        QVERIFY(open.runsOn(QDate(2026, 12, 5)) && !open.runsOn(QDate(2026, 12, 6)));
        QVERIFY(c->schedule.at(1).runsOn(QDate(2026, 12, 31)) &&
                !c->schedule.at(1).runsOn(QDate(2027, 1, 1)));
        QVERIFY(c->schedule.at(2).isClockSync() && c->schedule.at(2).panels.isEmpty());
        // What the API writes reads back the same (fixed entries stay in the configuration).
        QList<ScheduleEntry> editable = c->schedule;
        for (ScheduleEntry &e : editable)
            e.fixed = false, e.name += QStringLiteral("2");
        const auto back = c->parseSchedule(ServerConfig::scheduleText(editable), &why);
        QVERIFY2(back, qPrintable(why));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(back->at(i).keys(), editable.at(i).keys());

        const QList<QPair<QByteArray, QString>> wrong = {
            {"quando = 24:00", "quando inválido"},
            {"quando = 8:00\ndias = seg,feriado", "dias inválido"},
            {"datas = 2026-12-31..2026-12-24", "datas inválido"},
            {"texto = a\ncomando = para", "só um de"},
            {"comando = explode", "comando inválido"},
            {"mensagem = ../usuarios.json", "mensagem inválido"},
            {"quando = 08:00\npaineis = porta\ncomando = para", "painel que não existe"},
            {"quando = 08:00", "não tem texto"},
            {"quando = 08:00\ntexto =", "(vazio)"},
            {"quando = 08:00\ntexto = a\ncor = azul", "chave desconhecida: cor"},
            {"quando = 08:00\ntexto = a\n[mqtt]\nservidor = h:1\nsitio = s\ntls_certificado = c",
             "tls_certificado e tls_chave vão juntos"},
            {"quando = 08:00\ntexto = a\n[mqtt]\nservidor = h:1\nsitio = s\ntls_certificado = c\n"
             "tls_chave = k", "tls_certificado precisa de tls_ca"},
            {"quando = 08:00\ntexto = a\n[sede]\nservidor = h:1\n[grupo g]\n", "o grupo g não tem sitios"},
            {"texto = \"sem fim", "aspas sem fim"},
        };
        for (const auto &[body, expected] : wrong) {
            const QByteArray text =
                "[linha l]\nporta = x\n[painel p]\nlinha = l\n[agenda a]\n" + body;
            QVERIFY(!ServerConfig::parse(text, QStringLiteral("/tmp"), &why));
            QVERIFY2(why.contains(expected), qPrintable(why));
        }
        QVERIFY(!ServerConfig::parse("[mqtt]\nservidor = localhost:1883\n", {}, &why));
        QVERIFY(!ServerConfig::parse("porta = x\n[linha l]\nporta = x\n", {}, &why));
        QVERIFY2(why.contains("chave fora de uma seção"), qPrintable(why));
        // Sections without a name, twice, or named for every panel.
        for (const char *text : {"[painel todos]\n", "[painel]\n", "[painel p]\n[painel p]\n",
                                 "[linha]\n", "[linha l]\nporta = x\n[linha l]\n", "[grupo]\n",
                                 "[grupo g]\n[grupo g]\n", "[agenda]\n"}) {
            QVERIFY2(!ServerConfig::parse(text, {}, &why), text);
            QVERIFY2(why.contains("sem nome"), qPrintable(why));
        }
        QVERIFY(!c->parseSchedule("[agenda abertura]\nquando = 09:00\ncomando = para\n", &why));
        QVERIFY2(why.contains("já existe"), qPrintable(why));
        // A name that would break its section in the file.
        // And none that hides itself: a tab, a zero-width space.
        for (const char *name : {"a b", "a;b]", "a[b", "#a", "a\"b", "a\tb", "a\u200Bb"})
            QCOMPARE(ScheduleEntry::fromJson({{"nome", name}, {"quando", "04:00"}, {"texto", "a"}},
                                             &why).has_value(), name == QString("a b"));
        // From the page: each field read, and each a text.
        QCOMPARE(ScheduleEntry::fromJson({{"nome", "x"}, {"quando", "04:00"}, {"texto", "a"}}, &why)->value, "a");
        QVERIFY(!ScheduleEntry::fromJson({{"nome", "x"}, {"quando", 4}, {"texto", "a"}}, &why));
        QCOMPARE(why, QString("quando deve ser um texto"));
    }

    void runsOnItsDaysOnce()
    {
        VirtualAgenda a(QStringLiteral("2026-12-06T23:00:00Z"), // a Sunday
                        {entry("semana", "08:00", "dias", "seg,ter,qua,qui,sex"),
                         entry("natal", "18:00", "datas", "2026-12-10..2026-12-11")});
        a.runFor(7 * 86400);
        QCOMPARE(a.log,
                 (QStringList{"semana@12-07 08:00", "semana@12-08 08:00", "semana@12-09 08:00",
                              "semana@12-10 08:00", "natal@12-10 18:00", "semana@12-11 08:00",
                              "natal@12-11 18:00"}));
    }

    // Lisbon: 2026-03-29 01:00 becomes 02:00; 2026-10-25 02:00 becomes 01:00.
    void daylightSavingNeitherSkipsNorRepeatsSilently()
    {
        VirtualAgenda spring(QStringLiteral("2026-03-28T23:00:00Z"),
                             {entry("gap", "01:30"), entry("after", "02:30")});
        spring.runFor(4 * 3600);
        QCOMPARE(spring.log, (QStringList{"gap@03-29 02:00!", "after@03-29 02:30"}));
        QVERIFY2(spring.notes.first().contains("mudança de horário"),
                 qPrintable(spring.notes.first()));

        VirtualAgenda autumn(QStringLiteral("2026-10-24T23:00:00Z"),
                             {entry("twice", "01:30"), entry("after", "02:30")});
        autumn.runFor(4 * 3600);
        QCOMPARE(autumn.log,
                 (QStringList{"twice@10-25 01:30", "-twice@10-25 01:00!", "after@10-25 02:30"}));
    }

    void clockSetAheadOrBack()
    {
        VirtualAgenda a(QStringLiteral("2026-12-07T07:00:00Z"),
                        {entry("a", "08:00"), entry("b", "09:00"), entry("c", "09:30")});
        a.now = a.now.addSecs(2 * 3600 + 10); // set ahead: 07:00 -> 09:00
        a.take(a.scheduler.poll());
        QCOMPARE(a.log, (QStringList{"a@12-07 09:00!", "b@12-07 09:00"}));
        a.log.clear();
        a.now = a.now.addSecs(-3600); // set back an hour: nothing again
        a.runFor(5400);
        QCOMPARE(a.log, (QStringList{"-b@12-07 08:00!", "c@12-07 09:30"}));
        a.log.clear();
        a.now = a.now.addDays(-2); // set back by days: the agenda starts over
        a.runFor(86400);
        QCOMPARE(a.log, (QStringList{"-agenda@12-05 09:30!", "a@12-06 08:00", "b@12-06 09:00",
                                     "c@12-06 09:30"}));
    }

    void downtimeReplaysOnlyClockSyncs()
    {
        ScheduleEntry sync = entry("relogio", "08:30");
        sync.value.clear();
        QString why;
        sync.set(QStringLiteral("comando"), QStringLiteral("hora"), &why);
        QDateTime now = local(QStringLiteral("2026-12-07T09:00:10Z"));
        Scheduler s(kLisbon, [&now] { return now; });
        s.setEntries({entry("texto", "08:00"), sync, entry("later", "09:30")});
        const QList<ScheduledRun> runs =
            s.start(QDateTime(QDate(2026, 12, 7), QTime(7, 0), QTimeZone::utc()));
        QCOMPARE(runs.size(), 2);
        QVERIFY(runs[0].skipped && runs[0].note.contains("parado"));
        QVERIFY(!runs[1].skipped && s.entries().at(runs[1].entry).isClockSync());
        QCOMPARE(s.covered(), QDateTime(QDate(2026, 12, 7), QTime(9, 0), QTimeZone::utc()));
        QCOMPARE(s.msUntilNextMinute(), 50000);
        // Down for days: each entry's latest occurrence, "later" yesterday's.
        const QList<ScheduledRun> days = s.start(local("2026-12-04T07:00:00Z"));
        const auto later = std::find_if(days.cbegin(), days.cend(), [](auto &r) { return r.entry == 2; });
        QVERIFY(later != days.cend() && later->due.date() == QDate(2026, 12, 6));
    }
};

QTEST_GUILESS_MAIN(TestSchedule)
#include "tst_schedule.moc"
