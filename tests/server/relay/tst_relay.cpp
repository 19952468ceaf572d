// The relay speaks only the panel's protocol: frames checked as a panel
// checks them, one per client in flight, anything else closed with nothing
// forwarded, only the addresses allowed let in, and idle connections bounded
// in number and in time.
#include "fakeservice.h"
#include "relayrequest.h"
#include "relayserver.h"

#include <QNetworkProxy>
#include <QTcpSocket>

using State = RelayRequestReader::State;

// Feeds the bytes to the reader, reset; the state after the last one.
static State read(RelayRequestReader &r, const QByteArray &bytes)
{
    r.reset();
    State s = State::NeedMore;
    for (const char b : bytes)
        if ((s = r.feed(quint8(b))) != State::NeedMore) break;
    return s;
}

static bool closedByServer(QTcpSocket &s)
{
    return s.state() == QAbstractSocket::UnconnectedState ||
           QTest::qWaitFor([&s] { return s.state() == QAbstractSocket::UnconnectedState; }, 5000);
}

// A client from the given address of this machine, connected.
static std::unique_ptr<QTcpSocket> connectFrom(const char *from, quint16 port)
{
    auto s = std::make_unique<QTcpSocket>();
    s->setProxy(QNetworkProxy::NoProxy); // loopback: no system proxy lookup on its thread
    s->bind(QHostAddress(from));
    s->connectToHost("127.0.0.1", port);
    return s->waitForConnected(5000) ? std::move(s) : nullptr;
}

// The line's relay, hooked to the service as the program hooks it.
static std::unique_ptr<RelayServer> relayOf(InProcessService &s, const QStringList &from = {})
{
    auto relay = std::make_unique<RelayServer>("sala", *s.service);
    if (!relay->allow(from) || !relay->listen("127.0.0.1", 0)) return nullptr;
    return relay;
}

class TestRelay : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theReaderChecksFramesAsAPanelDoes()
    {
        RelayRequestReader r;
        const QByteArray good = frame::build(2, "LPromo");
        QCOMPARE(read(r, good), State::Frame);
        QCOMPARE(r.address(), qint16(2));
        QCOMPARE(r.data(), QByteArray("LPromo"));
        // Every byte counts: change any one and the frame is refused.
        for (int i = 0; i < good.size(); ++i) {
            QByteArray bad = good;
            bad[i] = char(bad[i] ^ 0x01);
            QVERIFY2(read(r, bad) != State::Frame, qPrintable(QString::number(i)));
        }
        QCOMPARE(read(r, "GET / HTTP/1.1\r\n"), State::Bad);
        QCOMPARE(r.why(), QString("não começa um quadro"));
        QCOMPARE(read(r, frame::build(32, "P")), State::Bad); // no such address
        QCOMPARE(read(r, QByteArray::fromHex("817E0400")), State::Bad); // no data
        QCOMPARE(read(r, QByteArray::fromHex("817E511D")), State::Bad); // 7501 bytes of data
        QCOMPARE(read(r, frame::build(0, QByteArray(7500, 'x'))), State::Frame);
    }

    void framesReachTheLineOneAtATime()
    {
        InProcessService s;
        s.port->held = true;
        const auto relay = relayOf(s);
        QVERIFY(relay);
        const auto client = connectFrom("127.0.0.1", relay->port());
        QVERIFY(client);
        // Two frames at once: the second is read once the first is answered.
        client->write(frame::build(1, "P") + frame::build(2, "I"));
        QTRY_COMPARE(s.port->inHand(), 1);
        QCOMPARE(s.service->stateJson().value("linhas")[0].toObject().value("fila").toInt(), 0);
        s.port->release();
        QTRY_VERIFY(client->bytesAvailable() > 0);
        QCOMPARE(client->readAll(), frame::build(1, QByteArray(1, char(frame::kAck))));
        QTRY_COMPARE(s.port->inHand(), 1);
        s.port->release();
        QTRY_COMPARE(s.port->texts(), QStringList({"1:P", "2:I"}));
        // A damaged frame, then a good one: the connection closes, nothing
        // of it reaches the line.
        QByteArray damaged = frame::build(1, "LOi");
        damaged[damaged.size() - 1] = char(damaged.back() ^ 0x40);
        client->write(damaged + frame::build(1, "A"));
        QVERIFY(closedByServer(*client));
        QCOMPARE(s.port->inHand(), 0);
        QCOMPARE(s.port->frames.size(), 2);
        QTRY_COMPARE(s.service->historyJson().size(), 2);
        QCOMPARE(s.service->historyJson().first()["painel"].toString(), "linha sala, endereço 1");
    }

    void onlyTheAddressesAllowedConnect()
    {
        InProcessService s;
        const Result<> bad = RelayServer("sala", *s.service).allow({"10.0.0.0/8", "rede"});
        QVERIFY2(!bad && bad.why().contains("\"rede\""), qPrintable(bad.why()));
        const auto relay = relayOf(s, {"10.0.0.0/8", "::2"});
        const auto client = connectFrom("127.0.0.1", relay->port());
        QVERIFY(client);
        client->write(frame::build(1, "P"));
        QTest::ignoreMessage(QtWarningMsg, "repasse da linha sala: 127.0.0.1 não pode se conectar");
        QVERIFY(closedByServer(*client));
        QCOMPARE(s.port->frames.size(), 0);
    }

    // At a bound the connection idle longest gives way: of the address at
    // its own bound, of anyone at the total. Only when every one is busy
    // is the new one refused.
    void theIdlestGivesWay()
    {
        InProcessService s;
        s.port->held = true;
        const auto owned = relayOf(s);
        RelayServer &relay = *owned;
        relay.setBounds(2, 3, 60000);
        const auto connect = [&](const char *from) {
            auto c = connectFrom(from, relay.port());
            s.clock.advance(10); // each later than the last
            QTest::qWait(20);    // and admitted before the next
            return c;
        };
        auto a1 = connect("127.0.0.1"), a2 = connect("127.0.0.1"), b1 = connect("127.0.0.2");
        QVERIFY(a1 && a2 && b1);
        // The per-address bound alone: a third from .1 closes .1's oldest.
        auto a3 = connect("127.0.0.1");
        QVERIFY(closedByServer(*a1));
        QCOMPARE(b1->state(), QAbstractSocket::ConnectedState);
        // The total: a new address closes the idlest of all, .1's second.
        auto c1 = connect("127.0.0.3");
        QVERIFY(closedByServer(*a2));
        // Busy ones never give way: mid-frame, or waiting for the line.
        b1->write(frame::build(1, "P"));
        QTRY_COMPARE(s.port->inHand(), 1);
        a3->write(frame::build(1, "metade").left(9));
        c1->write(frame::build(2, "metade").left(9));
        QTest::qWait(50);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("conexões demais, todas em uso"));
        auto refused = connect("127.0.0.4");
        QVERIFY(refused && closedByServer(*refused));
        for (auto *c : {b1.get(), a3.get(), c1.get()})
            QCOMPARE(c->state(), QAbstractSocket::ConnectedState);
        // A frame begun must end within its time from its first byte, on the
        // service's clock, however it trickles; a connection kept between
        // frames stays.
        relay.setBounds(10, 10, 200);
        auto trickle = connect("127.0.0.5"), quiet = connect("127.0.0.5");
        const QByteArray f = frame::build(1, "devagar");
        for (int i = 0; i < 4; ++i) {
            if (i > 0) s.clock.advance(50);
            trickle->write(f.mid(i, 1));
            QTest::qWait(20);
        }
        s.clock.advance(49);
        QCOMPARE(trickle->state(), QAbstractSocket::ConnectedState); // 199 ms after its first byte
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("quadro de 127.0.0.5 não terminou em 0,2 s"));
        s.clock.advance(1);
        QVERIFY(closedByServer(*trickle));
        QCOMPARE(quiet->state(), QAbstractSocket::ConnectedState);
    }

    // Relay clients and the other doors share the line: after a relayed
    // frame a door's request goes first, and a request's deadline comes on
    // the clock while the frame on the wire goes on.
    void theLineIsShared()
    {
        InProcessService s;
        s.port->held = true;
        const auto relay = relayOf(s);
        auto a = connectFrom("127.0.0.1", relay->port()), b = connectFrom("127.0.0.1", relay->port());
        a->write(frame::build(1, "P"));
        QTRY_COMPARE(s.port->inHand(), 1);
        b->write(frame::build(2, "P"));
        QTRY_COMPARE(s.service->stateJson().value("linhas")[0].toObject().value("fila").toInt(), 1);
        std::optional<SendResult> text, late;
        s.text("caixa", "porta", &text);
        s.send(SendRequest::Kind::Text, {"entrada"}, "tarde", &late, s.clock.monotonicMs() + 60000);
        s.clock.advance(60000);
        QVERIFY(!late);
        s.clock.advance(1);
        QVERIFY(late && late->end == SendEnd::Expired);
        for (int i = 0; i < 3; ++i) {
            QTRY_COMPARE(s.port->inHand(), 1);
            s.port->release();
        }
        QTRY_COMPARE(s.port->texts(), QStringList({"1:P", "2:Lporta", "2:P"}));
        QVERIFY(text && text->ok());
    }
};

QTEST_GUILESS_MAIN(TestRelay)
#include "tst_relay.moc"
