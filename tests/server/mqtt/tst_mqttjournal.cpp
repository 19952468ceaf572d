// The MQTT journal on its own: what a kill leaves is taken back, a damaged
// file keeps what it can, a session's repeats are passed over and a new
// session forgets them; Home Assistant ids; the [mqtt] settings.
#include "mqttdiscovery.h"
#include "mqttjournal.h"
#include "serverconfig.h"
#include "testfiles.h"

#include <QTemporaryDir>

static MqttClient::Message message(int mid, const QByteArray &payload, qint64 expiry = -1)
{
    return {mid, "letreiro/loja/caixa/texto", payload, false, false, "resposta",
            QByteArray::number(mid), expiry};
}

static QList<MqttJournal::Entry> open(MqttJournal &journal, int *damaged = nullptr)
{
    QList<MqttJournal::Entry> left;
    int d = 0;
    QString error;
    [&] { QVERIFY2(journal.open(&left, damaged ? damaged : &d, &error), qPrintable(error)); }();
    return left;
}

static QList<MqttJournal::Entry> reopen(const QString &path, int *damaged = nullptr,
                                        int bound = 100)
{
    MqttJournal journal(path, bound);
    return open(journal, damaged);
}

class TestMqttJournal : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void whatWasLeftIsTakenBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("j.json");
        {
            MqttJournal journal(path, 100);
            QVERIFY(open(journal).isEmpty());
            const auto a = journal.add(message(1, "um"), 1000, 0);
            const auto b = journal.add(message(2, "dois", 5), 1000, 0);
            QVERIFY(a && b);
            QVERIFY(!journal.add(message(1, "um"), 2000, 0)); // sent again by the broker
            QCOMPARE(b->expiresMs, 6000);
            QCOMPARE(journal.add(message(3, "três"), 1000, 60000)->expiresMs, 61000);
            journal.finish(a->id);
            // Answered, and the answer not yet with the broker.
            journal.answered(b->id, R"({"ok":true})");
            // No sync: a kill leaves what was written, not only what was synced.
        }
        const QList<MqttJournal::Entry> left = reopen(path);
        QCOMPARE(left.size(), 2);
        QCOMPARE(left[0].answer, QByteArray(R"({"ok":true})"));
        QVERIFY(left[1].answer.isEmpty());
        QCOMPARE(left[0].message.payload, QByteArray("dois"));
        QCOMPARE(left[0].message.correlation, QByteArray("2"));
        QCOMPARE(left[0].message.responseTopic, QString("resposta"));
        QCOMPARE(left[0].expiresMs, 6000);
        QCOMPARE(left[1].message.payload, QByteArray("três"));

        // The repeats a session's broker may send after the restart are
        // still known; a new session starts the packet ids over.
        {
            MqttJournal journal(path, 100);
            QCOMPARE(open(journal).value(0).answer, QByteArray(R"({"ok":true})")); // rewritten
            QVERIFY(!journal.add(message(2, "dois"), 3000, 0));
            QVERIFY(!journal.add(message(1, "um"), 3000, 0));
            journal.newSession();
            QVERIFY(journal.add(message(1, "um"), 3000, 0));
            journal.sync();
        }
        // The new session outlives a restart: what the old one saw is forgotten.
        MqttJournal journal(path, 100);
        open(journal);
        QVERIFY(!journal.add(message(1, "um"), 4000, 0));
        QVERIFY(journal.add(message(2, "dois"), 4000, 0));

        // The last 1,024 packet ids are remembered, no more.
        SeenMessages seen;
        for (int k = 0; k <= int(SeenMessages::kRemembered); ++k)
            seen.remember(QByteArray::number(k));
        QVERIFY(!seen.remember("1") && seen.remember("0"));

        // Written records go to the disk; an idle journal leaves it alone.
        journal.sync();
        const quint64 before = journal.syncs();
        QTest::qWait(50);
        QVERIFY(before >= 1 && journal.syncs() == before);
    }

    void aDamagedJournalKeepsWhatItCanRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("j.json");
        {
            MqttJournal journal(path, 100);
            open(journal);
            for (int i = 1; i <= 5; ++i)
                journal.add(message(i, QByteArray::number(i)), 1000, 0);
        }
        QByteArray bytes = contents(path);
        const qsizetype third = bytes.indexOf("\"p\":\"Mw==\""); // "3"
        bytes.replace(third, 6, "\x01\xff#");                    // a sector gone bad
        bytes += "{\"n\":99,\"t\":\"letreiro/loja/ca";           // cut by the kill
        writeFile(path, bytes);
        int damaged = 0;
        const QList<MqttJournal::Entry> left = reopen(path, &damaged);
        QCOMPARE(damaged, 2);
        QCOMPARE(left.size(), 4);
        QCOMPARE(left.last().message.payload, QByteArray("5"));
        // More than the lines hold: the newest are kept.
        const QList<MqttJournal::Entry> bounded = reopen(path, nullptr, 2);
        QCOMPARE(bounded.size(), 2);
        QCOMPARE(bounded.first().message.payload, QByteArray("4"));
        // A rewrite the disk refuses (here, no file may grow past a few
        // bytes) leaves the journal as it was, and says why.
        const QByteArray before = contents(path);
        MqttJournal full(path, 100);
        QList<MqttJournal::Entry> left2;
        QString why;
        const bool opened = [&] {
            FileSizeLimit refused(16);
            return full.open(&left2, &damaged, &why);
        }();
        QVERIFY(!opened || !full.failure().isEmpty());
        QVERIFY2(full.failure().contains("o arquivo passa do tamanho"), qPrintable(full.failure()));
        QCOMPARE(contents(path), before);
    }

    void homeAssistantIds()
    {
        const QStringList names{"Entrada",  "entrada",         "entráda",
                                "entrada!", QString(300, 'x'), QString(300, 'x') + "y"};
        QSet<QString> ids;
        for (const QString &n : names) {
            const QString id = mqttdiscovery::entityId("loja centro", n);
            QVERIFY2(QRegularExpression("^[a-z0-9_]+$").match(id).hasMatch(), qPrintable(id));
            QVERIFY(QString("homeassistant/button/%1_inicia/config").arg(id).size() <= 255);
            ids.insert(id);
        }
        QCOMPARE(ids.size(), names.size());
        QVERIFY(mqttdiscovery::entityId("loja", "Entrada").startsWith("letreiro_loja_entrada_"));
    }

    void mqttSettings()
    {
        QString error;
        const auto base = QByteArray("[mqtt]\nservidor = h:1883\nsitio = s\n");
        const auto c = ServerConfig::parse(base, ".", &error);
        QVERIFY(c);
        QCOMPARE(c->mqtt.sessionSeconds, 86400);
        QCOMPARE(c->mqtt.maxAgeSeconds, 0);
        const auto d = ServerConfig::parse(
            base + "sessao = 12h\nvalidade = 30min\nestrito = sim\ndescoberta = não\n", ".", &error);
        QVERIFY2(d, qPrintable(error));
        QCOMPARE(d->mqtt.sessionSeconds, 12 * 3600);
        QCOMPARE(d->mqtt.maxAgeSeconds, 1800);
        QVERIFY(d->mqtt.strict);
        for (const char *bad : {"sessao = 0s\n", "validade = 1x\n", "sessao = dia\n"})
            QVERIFY(!ServerConfig::parse(base + bad, ".", &error));
    }
};

QTEST_GUILESS_MAIN(TestMqttJournal)
#include "tst_mqttjournal.moc"
