#include "fakeline.h"
#include "frame.h"
#include "panelcommands.h"
#include "panellink.h"

#include "testbytes.h"

#include <QtTest>

namespace
{

const QByteArray kAckReply = bytes({0x81, 0x7E, 5, 0, 1, 0, 0xFF, 0xFF, 0x06, 0x07});

class Recorder : public LinkListener
{
public:
    void statusAppended(const QString &t) override { status += t; }
    bool traceWanted() const override { return true; }
    void traceStarted(const QString &t) override { trace = t; }
    void traceAppended(const QString &t) override { trace += t; }
    QString status, trace;
};

// A link over a fake line on virtual time, heard by a recorder; a test
// takes its parts as `auto &&[time, line, rec, link] = Rig();`.
struct Rig {
    explicit Rig(LinkOptions options = {}) : link(line, time, options, &rec) {}
    VirtualTimebase time;
    FakeLine line{time};
    Recorder rec;
    PanelLink link;
};

} // namespace

class TestPanelLink : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void addressedExchangeReadsTheAnswer()
    {
        auto &&[time, line, rec, link] = Rig();
        line.drainMs = 5;
        line.answerAfterFrame(10, kAckReply);
        const ExchangeResult r = link.exchangeFrame(1, "A");
        QVERIFY(r.succeeded());
        QCOMPARE(r.bytes, bytes({0x06, 0x07}));
        QCOMPARE(line.written, frame::build(1, "A"));
        QCOMPARE(line.discardedOutput, 1);
        QCOMPARE(line.discardedInput, 2); // when the frame starts, before its last byte
        // Each byte as soon as the previous one has left: not before, and
        // no sleeping past it.
        QCOMPARE(line.writeTimes.front(), 100);
        for (int i = 1; i < line.writeTimes.size(); ++i)
            QCOMPARE(line.writeTimes[i] - line.writeTimes[i - 1], 5);
        QCOMPARE(rec.status, QStringLiteral("  =>  1 Caracteres."));
        QCOMPARE(rec.trace, QStringLiteral("Dados:\r\nA\r\n\r\n"
                                           "Transmitido:\r\n81H 7EH 5H 0H 1H 0H FFH FFH 41H 40H "
                                           "\r\n\r\nRecebido:\r\n"
                                           "81H 7EH 5H 0H 1H 0H FFH FFH 6H 7H \r\n\r\n"));
    }

    void globalSendDoesNotRead()
    {
        auto &&[time, line, rec, link] = Rig();
        line.answer("garbage");
        const ExchangeResult r = link.exchangeFrame(0, "A");
        QCOMPARE(r.bytes, bytes({frame::kAck}));
        QCOMPARE(time.now, 100);
        QVERIFY(rec.trace.endsWith(QStringLiteral("41H 41H \r\n\r\n")));
    }

    // Each byte may take a second to leave; a millisecond more and the
    // frame is given up, nothing more written.
    void aQueueThatDrainsTooSlowlyIsAWriteTimeOut_data()
    {
        QTest::addColumn<int>("drainMs");
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("endMs");
        QTest::addColumn<QString>("reason");
        QTest::newRow("at the deadline") << 1000 << 10 << 100 + 10 * 1000 << QString();
        QTest::newRow("past it")
            << 1001 << 1 << 100 + 1000 << "a linha não aceitou os dados em 1.0 s";
    }

    void aQueueThatDrainsTooSlowlyIsAWriteTimeOut()
    {
        QFETCH(int, drainMs);
        QFETCH(int, written);
        QFETCH(int, endMs);
        QFETCH(QString, reason);
        auto &&[time, line, rec, link] = Rig();
        line.drainMs = drainMs;
        const ExchangeResult r = link.exchangeFrame(0, "A");
        QCOMPARE(r.succeeded(), reason.isEmpty());
        QCOMPARE(r.reason, reason);
        QCOMPARE(line.written.size(), written);
        QCOMPARE(time.now, endMs);
    }

    // The answer's deadlines, a millisecond either side: its first byte
    // within 1.5 s of the frame, each next one within 1.5 s of the one
    // before, all of it within 10 s. The first nine bytes come `firstMs`
    // after the frame (none at all: -1), `gapMs` apart; the last `lastGapMs`
    // after them. A late answer is a NAK given at the deadline (`endMs`
    // after the frame), and the trace shows what came.
    void answerDeadlinesAtTheirEdge_data()
    {
        QTest::addColumn<int>("firstMs");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("lastGapMs");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("endMs");
        QTest::addColumn<QString>("trace"); // how it ends
        const QString silent = "o painel não respondeu", ten = "7H \r\n\r\n";
        const QString none = "Nenhum Dado Recebido.\r\n\r\n";
        const QString nine = "Recebido:\r\n81H 7EH 5H 0H 1H 0H FFH FFH 6H \r\n\r\n";
        QTest::newRow("no answer") << -1 << 0 << 0 << silent << 1500 << none;
        QTest::newRow("first byte at 1.5 s") << 1500 << 0 << 0 << QString() << 1500 << ten;
        QTest::newRow("first byte later") << 1501 << 0 << 0 << silent << 1500 << none;
        QTest::newRow("a pause of 1.5 s") << 0 << 0 << 1500 << QString() << 1500 << ten;
        QTest::newRow("a longer pause")
            << 0 << 0 << 1501 << "a resposta parou no meio" << 1500 << nine;
        QTest::newRow("whole at 10 s") << 1000 << 1000 << 1000 << QString() << 10000 << ten;
        QTest::newRow("whole later")
            << 1001 << 1000 << 1000 << "nenhuma resposta completa em 10 s" << 10000 << nine;
    }

    void answerDeadlinesAtTheirEdge()
    {
        QFETCH(int, firstMs);
        QFETCH(int, gapMs);
        QFETCH(int, lastGapMs);
        QFETCH(QString, reason);
        QFETCH(int, endMs);
        QFETCH(QString, trace);
        auto &&[time, line, rec, link] = Rig();
        line.wakeOnArrival();
        line.onWrite = [&](FakeLine &l) {
            if (l.written.size() != 10 || firstMs < 0) return;
            l.answer(kAckReply.left(9), firstMs, gapMs);
            l.answer(kAckReply.mid(9), firstMs + 8 * gapMs + lastGapMs);
        };
        const ExchangeResult r = link.exchangeFrame(1, "A");
        QCOMPARE(r.succeeded(), reason.isEmpty());
        QCOMPARE(r.reason, reason);
        QCOMPARE(r.bytes, reason.isEmpty() ? bytes({0x06, 0x07}) : bytes({frame::kNak}));
        QCOMPARE(time.now - line.writeTimes.last(), endMs);
        QVERIFY2(rec.trace.endsWith(trace), qPrintable(rec.trace));
    }

    // A faulty device that babbles bytes (a 0x55 every 20 ms) which never
    // make an answer holds the line no longer than the slowest answer.
    void babbleIsCutAtTheAnswersLimit()
    {
        auto &&[time, line, rec, link] = Rig();
        line.wakeOnArrival();
        line.onWrite = [](FakeLine &l) {
            if (l.written.size() == 10) l.answer(QByteArray(1000, '\x55'), 0, 20);
        };
        const ExchangeResult r = link.exchangeFrame(1, "A");
        QCOMPARE(r.bytes, bytes({frame::kNak}));
        QCOMPARE(r.reason, QStringLiteral("nenhuma resposta completa em 10 s"));
        QCOMPARE(time.now - line.writeTimes.last(), qint64(10000));
    }

    void aPortErrorEndsTheExchangeWithANak()
    {
        for (int after : {0, 4}) {
            auto &&[time, line, rec, link] = Rig();
            line.failAfterBytes = after;
            const ExchangeResult r = link.exchangeFrame(1, "A");
            QCOMPARE(r.bytes, bytes({frame::kNak}));
            QCOMPARE(r.reason, QStringLiteral("porta perdida"));
        }
        auto &&[time, line, rec, link] = Rig();
        line.open = false;
        QVERIFY(!link.exchangeFrame(1, "A").succeeded());
        QVERIFY(line.written.isEmpty());
    }

    void usbAdapterPausesBeforeEveryByte()
    {
        auto &&[time, line, rec, link] = Rig(LinkOptions{0, true});
        QVERIFY(link.exchangeFrame(0, "A").succeeded());
        QCOMPARE(line.writeTimes.size(), 10);
        for (int i = 0; i < 10; ++i)
            QCOMPARE(line.writeTimes[i], 100 + 100 * (i + 1));
    }

    void longDataIsEncodedCountedAndCut()
    {
        auto &&[time, line, rec, link] = Rig();
        const QByteArray field = "L" + QByteArray(7999, '\xE7');
        link.exchangeFrame(0, field);
        QCOMPARE(rec.status, QStringLiteral("  =>  8000 Caracteres."));
        QCOMPARE(line.written.size(), 7509);
        QCOMPARE(line.written.mid(8, 2), QByteArray("L\x0C"));
    }

    void commandOutcomes()
    {
        auto &&[time, line, rec, link] = Rig();
        PanelCommands commands(link);

        line.answerAfterFrame(10, bytes({0x81, 0x7E, 5, 0, 3, 0, 0xFF, 0xFF, 0x06, 0}));
        QCOMPARE(commands.letter(3, 'P').status, status::kSuccess);
        line.onWrite = nullptr;
        QCOMPARE(commands.letter(3, 'P').status, status::kFailure);
        line.answerAfterFrame(10, bytes({0x7E, 5, 0, 3, 0, 0xFF, 0xFF, frame::kNak, 0}));
        line.written.clear();
        const CommandOutcome refused = commands.letter(3, 'A');
        QCOMPARE(refused.status, status::kFailure);
        QCOMPARE(refused.statusWithReason(),
                 QStringLiteral("Falha na transmissão. (o painel recusou a mensagem)"));
        QCOMPARE((CommandOutcome{refused.status, false, {}, {}}).statusWithReason(), refused.status);
        // Well formed and from its panel, but neither ACK nor NAK: no success.
        line.answerAfterFrame(10, bytes({0x7E, 5, 0, 3, 0, 0xFF, 0xFF, 'X', frame::kAck}));
        line.written.clear();
        const CommandOutcome odd = commands.letter(3, 'A');
        QCOMPARE(odd.status, status::kFailure);
        QCOMPARE(odd.reason, QStringLiteral("resposta desconhecida do painel: 58H 6H"));
        line.onWrite = nullptr;
        QCOMPARE(commands.letter(0, 'I').status, status::kGlobalSuccess);
        const QDateTime when(QDate(2010, 8, 31), QTime(9, 5, 7));
        QCOMPARE(commands.setClock(when).status, status::kClockSet);
        QCOMPARE(commands.setDate(when).status, status::kDateSet);
        QCOMPARE(commands.transfer(0, "LABC").status, status::kGlobalSuccess);
    }

    // Only an answer that came after the whole frame and carries the
    // request's address answers it.
    void answersBelongToTheirFrame_data()
    {
        QTest::addColumn<QByteArrayList>("answers");
        QTest::addColumn<QList<int>>("afterBytes");
        QTest::addColumn<bool>("succeeded");
        QTest::addColumn<QString>("reason");
        const auto to2 = bytes({0x81, 0x7E, 5, 0, 2, 0, 0xFF, 0xFF, 0x06, 0}), to1 = kAckReply;
        QTest::newRow("its own") << QByteArrayList{to2} << QList<int>{10} << true << QString();
        QTest::newRow("another panel's ACK") << QByteArrayList{to1} << QList<int>{10} << false
                                             << "só chegou resposta de outro endereço";
        QTest::newRow("while the frame was written")
            << QByteArrayList{to2} << QList<int>{4} << false << "o painel não respondeu";
        QTest::newRow("a late one, then its own")
            << QByteArrayList{to1, to2} << QList<int>{10, 10} << true << QString();
    }

    void answersBelongToTheirFrame()
    {
        QFETCH(QByteArrayList, answers);
        QFETCH(QList<int>, afterBytes);
        QFETCH(bool, succeeded);
        QFETCH(QString, reason);
        auto &&[time, line, rec, link] = Rig();
        line.drainMs = 5;
        line.onWrite = [&](FakeLine &l) {
            for (int i = 0; i < answers.size(); ++i)
                if (l.written.size() == afterBytes[i]) l.answer(answers[i], 1 + 20 * i, 0);
        };
        const ExchangeResult r = link.exchangeFrame(2, "A");
        QCOMPARE(r.succeeded(), succeeded);
        QCOMPARE(r.reason, reason);
        if (!succeeded && !answers.isEmpty() && afterBytes[0] == 10)
            QVERIFY(rec.trace.contains("Recebido:\r\n81H 7EH 5H 0H 1H")); // shown, not taken
    }

    // A device server puts the frame on its wire at 2400 baud: the link
    // hands it chunks and waits as long as they need, not one second.
    void aDeviceServerThatPushesBack()
    {
        auto &&[time, line, rec, link] = Rig();
        line.networkUsPerByte = SerialLine::kWireByteUs;
        const QByteArray field = "L" + QByteArray(1999, 'x');
        const qsizetype frameSize = frame::build(0, field).size();
        QVERIFY(link.exchangeFrame(0, field).succeeded());
        QCOMPARE(line.written.size(), frameSize);
        const double wireMs = double(frameSize) * SerialLine::kWireByteUs / 1000;
        QVERIFY2(time.now - 100 <= wireMs * 1.05, qPrintable(QString::number(time.now)));
        // The server holds seconds of the frame in its buffer when the
        // socket has drained; the answer comes after its wire is done.
        line.written.clear();
        line.farEndBuffer = 2304;
        line.onWrite = [&](FakeLine &l) {
            if (l.written.size() == frameSize)
                l.answer(bytes({0x81, 0x7E, 5, 0, 1, 0, 0xFF, 0xFF, 0x06, 0}),
                         l.lastDepartureMs() + 30 - time.now);
        };
        QVERIFY(link.exchangeFrame(1, field).succeeded());
        line.onWrite = nullptr;
        // One that stops taking bytes fails, and the connection with what it
        // holds of the frame is dropped.
        line.written.clear();
        line.stuck = true;
        line.networkUsPerByte = 0;
        line.drainMs = 0;
        QVERIFY(!link.exchangeFrame(0, field).succeeded());
        QCOMPARE(line.abandoned, 1);
    }

    // The program is ending: the frame in hand goes out whole, and no
    // answer is waited for.
    void aStopRequestEndsTheExchangeAfterItsFrame()
    {
        auto &&[time, line, rec, link] = Rig();
        std::atomic<bool> stop{false};
        link.setStopFlag(&stop);
        line.onWrite = [&](FakeLine &l) {
            if (l.written.size() == 3) stop = true;
        };
        const ExchangeResult r = link.exchangeFrame(1, "A");
        QCOMPARE(line.written, frame::build(1, "A"));
        QVERIFY(!r.succeeded());
        QVERIFY(time.now < 100 + 50);
        QCOMPARE(r.reason, QStringLiteral("o programa foi encerrado antes da resposta"));
    }

    void globalSendsThatCouldNotBeWrittenReportAFailure()
    {
        auto &&[time, line, rec, link] = Rig();
        line.stuck = true;
        PanelCommands commands(link);
        const QDateTime now = QDateTime::currentDateTime();
        for (const CommandOutcome &o : {commands.letter(0, 'A'), commands.transfer(0, "LX"),
                                        commands.setClock(now), commands.setDate(now)}) {
            QCOMPARE(o.status, status::kFailure);
            QVERIFY(!o.succeeded);
        }
    }

    void clockAndDateFields_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QByteArray>("clock");
        QTest::addColumn<QByteArray>("date");
        QTest::newRow("tuesday 2010")
            << QDateTime(QDate(2010, 8, 31), QTime(9, 5, 7)) << bytes({'R', 0x09, 0x05, 0x07})
            << bytes({'D', 0x31, 0x08, 0x10, 2});
        QTest::newRow("sunday, year 2000")
            << QDateTime(QDate(2000, 1, 2), QTime(23, 59, 59)) << bytes({'R', 0x23, 0x59, 0x59})
            << bytes({'D', 0x02, 0x01, 0x00, 7});
        QTest::newRow("monday 2081") << QDateTime(QDate(2081, 12, 1), QTime(0, 0, 0))
                                     << bytes({'R', 0, 0, 0}) << bytes({'D', 0x01, 0x12, 0x81, 1});
    }

    void clockAndDateFields()
    {
        QFETCH(QDateTime, when);
        QFETCH(QByteArray, clock);
        QFETCH(QByteArray, date);
        QCOMPARE(datafield::clock(when.time()), clock);
        QCOMPARE(datafield::date(when.date()), date);
        // Always to every panel, and the bytes reach the wire unchanged.
        auto &&[time, line, rec, link] = Rig(LinkOptions{5, false});
        PanelCommands commands(link);
        commands.setDate(when);
        QCOMPARE(line.written, frame::build(0, date));
        line.written.clear();
        commands.setClock(when);
        QCOMPARE(line.written, frame::build(0, clock));
    }
};

QTEST_GUILESS_MAIN(TestPanelLink)
#include "tst_panellink.moc"
