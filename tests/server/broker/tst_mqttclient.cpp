#include "../mqtt/mqttpeers.h"
#include "mqttclient.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

class TestMqttClient : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // An answer given while the broker is away waits in the library and
    // goes on the next connection: it is delivered only when the broker
    // acknowledges it, or the journal would end an answer a kill then loses.
    void anAnswerGivenOfflineIsDeliveredOnlyOnceTheBrokerHasIt()
    {
        QTemporaryDir dir;
        Broker broker(dir.filePath("b"));
        broker.stop();
        MqttClient client;
        std::atomic<int> acknowledged{-1};
        std::atomic<bool> delivered{false};
        client.acknowledged = [&](const QString &topic, int reason) {
            if (topic == "resposta/loja") acknowledged = reason;
        };
        QString error;
        QVERIFY2(client.start({"letreiro-teste", "127.0.0.1", broker.port()}, &error),
                 qPrintable(error));
        client.answer("resposta/loja", "{\"ok\":true}", "7", [&] { delivered = true; });
        QVERIFY(!delivered);
        broker.start();
        MqttPeer peer(broker.port(), {"resposta/#"});
        QTRY_VERIFY(peer.subscribed());
        QTRY_VERIFY_WITH_TIMEOUT(delivered, 15000);
        QCOMPARE(acknowledged.load(), 0);
        QTRY_COMPARE(peer.on("resposta/loja"), QList<QByteArray>{"{\"ok\":true}"});
    }
};

QTEST_GUILESS_MAIN(TestMqttClient)
#include "tst_mqttclient.moc"
