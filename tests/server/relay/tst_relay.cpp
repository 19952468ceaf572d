// The relay speaks only the panel's protocol: frames checked as a panel
// checks them, one per client in flight, anything else closed with nothing
// forwarded, only the addresses allowed let in, and idle connections bounded
// in number and in time.
#include "fakeservice.h"
#include "relayrequest.h"
#include "relayserver.h"

#include <QNetworkProxy>
#include <QTcpSocket>

namespace
{
using State = RelayRequestReader::State;

// Feeds the bytes; the state after the last one.
State read(RelayRequestReader &r, const QByteArray &bytes)
{
    State s = State::NeedMore;
    for (const char b : bytes)
        if ((s = r.feed(quint8(b))) != State::NeedMore) break;
    return s;
}

// Waits until the server closed the connection.
bool closedByServer(QTcpSocket &s)
{
    return s.state() == QAbstractSocket::UnconnectedState ||
           QTest::qWaitFor([&s] { return s.state() == QAbstractSocket::UnconnectedState; }, 5000);
}

// A client from the given address of this machine, connected.
std::unique_ptr<QTcpSocket> connectFrom(const char *from, quint16 port)
{
    auto s = std::make_unique<QTcpSocket>();
    s->setProxy(QNetworkProxy::NoProxy); // loopback: no system proxy lookup on its thread
    s->bind(QHostAddress(from));
    s->connectToHost("127.0.0.1", port);
    return s->waitForConnected(5000) ? std::move(s) : nullptr;
}
} // namespace

// The line's relay, hooked to the service as the program hooks it.
std::unique_ptr<RelayServer> relayOf(InProcessService &s, const QStringList &from = {})
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
            r.reset();
            QVERIFY2(read(r, bad) != State::Frame, qPrintable(QString::number(i)));
        }
        r.reset();
        QCOMPARE(read(r, "GET / HTTP/1.1\r\n"), State::Bad);
        QCOMPARE(r.why(), QString("não começa um quadro"));
        r.reset();
        QCOMPARE(read(r, frame::build(32, "P")), State::Bad); // no such address
        r.reset();
        QCOMPARE(read(r, QByteArray::fromHex("817E0400")), State::Bad); // no data
        r.reset();
        QCOMPARE(read(r, QByteArray::fromHex("817E601D")), State::Bad); // beyond 7500
        r.reset();
        QCOMPARE(read(r, frame::build(0, QByteArray(7500, 'x'))), State::Frame);
    }

    void framesReachTheLineOneAtATime()
    {
        InProcessService s;
        s.port->held = true;
        const auto relay = relayOf(s);
        QVERIFY(relay);
        const quint16 port = relay->port();
        QVERIFY(port != 0);
        QTcpSocket client;
        client.connectToHost("127.0.0.1", port);
        QVERIFY(client.waitForConnected(5000));
        // Two frames at once: the second is read once the first is answered.
        client.write(frame::build(1, "P") + frame::build(2, "I"));
        QTRY_COMPARE(s.port->inHand(), 1);
        QCOMPARE(s.service->stateJson().value("linhas")[0].toObject().value("fila").toInt(), 0);
        s.port->release();
        QTRY_VERIFY(client.bytesAvailable() > 0);
        QCOMPARE(client.readAll(), frame::build(1, QByteArray(1, char(frame::kAck))));
        QTRY_COMPARE(s.port->inHand(), 1);
        s.port->release();
        QTRY_COMPARE(s.port->texts(), QStringList({"1:P", "2:I"}));
        // A damaged frame, then a good one: the connection closes, nothing
        // of it reaches the line.
        QByteArray damaged = frame::build(1, "LOi");
        damaged[damaged.size() - 1] = char(damaged.back() ^ 0x40);
        client.write(damaged + frame::build(1, "A"));
        QVERIFY(closedByServer(client));
        QTcpSocket browser;
        browser.connectToHost("127.0.0.1", port);
        QVERIFY(browser.waitForConnected(5000));
        browser.write("POST /x HTTP/1.1\r\nHost: a\r\n\r\n" + frame::build(1, "A"));
        QVERIFY(closedByServer(browser));
        QCOMPARE(s.port->inHand(), 0);
        QCOMPARE(s.port->frames.size(), 2);
        QTRY_COMPARE(s.service->historyJson().size(), 2);
        QCOMPARE(s.service->historyJson()[0].toObject().value("painel").toString(),
                 QString("linha sala, endereço 1"));
    }

    void onlyTheAddressesAllowedConnect()
    {
        InProcessService s;
        const Result<> bad = RelayServer("sala", *s.service).allow({"10.0.0.0/8", "rede"});
        QVERIFY2(!bad && bad.why().contains("\"rede\""), qPrintable(bad.why()));
        const auto relay = relayOf(s, {"10.0.0.0/8", "::2"});
        QTcpSocket client;
        client.connectToHost("127.0.0.1", relay->port());
        QVERIFY(client.waitForConnected(5000));
        client.write(frame::build(1, "P"));
        QTest::ignoreMessage(QtWarningMsg,
                             "repasse da linha sala: 127.0.0.1 não pode se conectar");
        QVERIFY(closedByServer(client));
        QCOMPARE(s.port->frames.size(), 0);
    }

    void idleConnectionsAreBounded()
    {
        InProcessService s;
        s.port->held = true;
        const auto owned = relayOf(s);
        RelayServer &relay = *owned;
        relay.setBounds(2, 3, 60000);
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (const char *from : {"127.0.0.1", "127.0.0.1", "127.0.0.2"}) {
            held.push_back(connectFrom(from, relay.port()));
            QVERIFY(held.back());
        }
        // A third from one address, a fourth in all: closed at once.
        QTest::ignoreMessage(QtWarningMsg, "repasse da linha sala: conexões demais (a última de "
                                           "127.0.0.1); as novas são fechadas");
        const auto third = connectFrom("127.0.0.1", relay.port());
        QVERIFY(third && closedByServer(*third));
        const auto fourth = connectFrom("127.0.0.3", relay.port());
        QVERIFY(fourth && closedByServer(*fourth));
        for (const auto &h : held)
            QCOMPARE(h->state(), QAbstractSocket::ConnectedState);
        held.clear();
        // A frame begun and not ended in time: closed. A connection kept
        // between frames stays, as a program's open "device server" does.
        relay.setBounds(10, 10, 200);
        const auto quiet = connectFrom("127.0.0.1", relay.port());
        const auto half = connectFrom("127.0.0.1", relay.port());
        QVERIFY(quiet && half);
        half->write(frame::build(1, "metade").left(9));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("quadro de 127.0.0.1 não terminou em 0,2 s"));
        QVERIFY(closedByServer(*half));
        QCOMPARE(quiet->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(s.port->inHand(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRelay)
#include "tst_relay.moc"
