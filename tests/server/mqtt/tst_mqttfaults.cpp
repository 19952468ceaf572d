// letreiro-servidor on a real Mosquitto broker under the faults a fleet
// meets: refusals answered, a service killed in a burst, retained messages
// as states across restarts, a broker that comes back empty, two services
// on one site.
#include "mqttpeers.h"
#include "serverprocess.h"

#include <QRandomGenerator>

static QJsonObject json(const QByteArray &b)
{
    return QJsonDocument::fromJson(b).object();
}

// letreiro-servidor on a folder of its own, two panels on one line, the
// site "loja" on `broker`; what it says kept for log().
static std::unique_ptr<ServerProcess> serviceOn(const QString &device, quint16 broker,
                                                const QString &extra = {})
{
    auto s = std::make_unique<ServerProcess>();
    s->users.clear();
    s->keepLog = true;
    s->extraConfig = QString("[mqtt]\nservidor = 127.0.0.1:%1\nsitio = loja\n%2").arg(broker).arg(extra);
    s->start(device);
    return s;
}

class TestMqttFaults : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    // Each request with a Response Topic gets one answer there, with its
    // Correlation Data: sent (with what the text underwent), or refused
    // with the reason; a refused or retained command and an empty text run
    // nothing.
    void everyRequestIsAnswered()
    {
        Emulator panel({"--endereco", "1,2"});
        Broker broker(m_dir.filePath("b1"));
        const auto service = serviceOn(panel.device, broker.port());
        MqttPeer peer(broker.port(), {"resposta/#", "letreiro/#"});
        QTRY_VERIFY(peer.on("letreiro/loja/estado").contains("online"));
        // The text policy and the refusals every door shares are tst_doors';
        // here, what only a real broker brings: a payload too big for the
        // library's bound, a retained command, and an answer per request.
        peer.publish("letreiro/loja/entrada/texto", "Olá 25°C", {false, "resposta/loja", "a"});
        peer.publish("letreiro/loja/caixa/texto", QByteArray(64 * 1024 + 1, 'x'), // a byte beyond
                     {false, "resposta/loja", "c"});
        peer.publish("letreiro/loja/todos/comando", "apaga", {true, "resposta/loja", "e"});
        QTRY_COMPARE(peer.answers("resposta/").size(), 3);
        const auto answers = peer.answers("resposta/");
        const auto is = [&](const char *id, bool ok, const QString &outcome, const QString &why) {
            QCOMPARE(answers.value(id).size(), 1);
            const QJsonObject a = json(answers.value(id).first());
            QCOMPARE(a.value("ok").toBool(), ok);
            QCOMPARE(a.value("resultado").toString(), outcome);
            QVERIFY2(a["motivo"].toString().contains(why), qPrintable(a["motivo"].toString()));
        };
        is("a", true, "enviado", "");
        QVERIFY(json(answers.value("a").first())["avisos"].toArray().first().toString().contains(
            "o painel lê como efeito"));
        is("c", false, "recusado", "64 KB");
        is("e", false, "recusado", "retido");
        QVERIFY(panel.nextFrame().startsWith("endereço 1, verificação certa: LOl"));
        peer.publish("letreiro/loja/caixa/texto", "fim");
        QCOMPARE(panel.nextFrame(), QString("endereço 2, verificação certa: Lfim"));
        const QJsonObject state = json(peer.on("letreiro/loja/entrada/estado").last());
        QCOMPARE(state["texto"].toString(), QString("Olá 25°C"));
        QVERIFY(state["ok"].toBool() && state.contains("resultado"));
        static const QRegularExpression offset("T\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d)$");
        QVERIFY(offset.match(state["quando"].toString()).hasMatch());
    }

    // Killed at random moments in a burst: each message its answer, except
    // at most one per kill (taken in the instant before the journal has
    // it), and the panel ends with the last text. An answer the broker had
    // before the service heard so comes again after the kill: the same one.
    void killedInABurst()
    {
        Emulator panel({"--endereco", "1,2"});
        Broker broker(m_dir.filePath("b2"));
        const auto service = serviceOn(panel.device, broker.port());
        MqttPeer peer(broker.port(), {"resposta/#", "letreiro/loja/estado"});
        QTRY_VERIFY(peer.on("letreiro/loja/estado").contains("online"));
        constexpr int kKills = 3, kEach = 12, kTexts = kKills * kEach;
        QString lastFrame; // the last text may well reach the panel before the last kill
        for (int round = 0; round < kKills; ++round) {
            for (int i = round * kEach; i < (round + 1) * kEach; ++i)
                peer.publish("letreiro/loja/caixa/texto", QString("rajada %1").arg(i).toUtf8(),
                             {false, "resposta/loja", QByteArray::number(i)});
            const int frames = QRandomGenerator::global()->bounded(0, 3);
            for (int f = 0; f < frames; ++f) {
                lastFrame = panel.nextFrame();
                QVERIFY(!lastFrame.isEmpty());
            }
            service->kill();
            service->start(panel.device);
        }
        const QByteArray last = QByteArray::number(kTexts - 1);
        QTRY_VERIFY_WITH_TIMEOUT(peer.answers("resposta/").contains(last), 25000);
        const auto answers = peer.answers("resposta/");
        for (const auto &list : answers)
            QCOMPARE(QSet<QByteArray>(list.cbegin(), list.cend()).size(), 1);
        QVERIFY2(answers.size() >= kTexts - kKills, qPrintable(QString::number(answers.size())));
        while (panel.process().canReadLine() || panel.process().waitForReadyRead(300))
            lastFrame = panel.nextFrame();
        QCOMPARE(lastFrame, QString("endereço 2, verificação certa: Lrajada %1").arg(kTexts - 1));
    }

    // A retained text is the panel's desired text: applied once, not again
    // at a restart. A broker that comes back empty gets the states, the
    // presence and the discovery again.
    void retainedIsState()
    {
        Emulator panel({"--endereco", "1,2"});
        Broker broker(m_dir.filePath("b3"));
        const auto service = serviceOn(panel.device, broker.port(), "descoberta = sim\n");
        MqttPeer peer(broker.port(), {"letreiro/loja/estado"});
        QTRY_VERIFY(peer.on("letreiro/loja/estado").contains("online"));
        peer.publish("letreiro/loja/entrada/texto", "Bem-vindo", {true});
        QCOMPARE(panel.nextFrame(), QString("endereço 1, verificação certa: LBem-vindo"));
        for (int restart = 0; restart < 2; ++restart) {
            const int seen = int(peer.on("letreiro/loja/estado").size());
            restart ? service->kill() : service->stop();
            service->start(panel.device);
            QTRY_VERIFY(peer.on("letreiro/loja/estado").size() > seen + restart - 1 &&
                        peer.on("letreiro/loja/estado").last() == "online");
        }
        peer.publish("letreiro/loja/caixa/texto", "depois");
        QCOMPARE(panel.nextFrame(), QString("endereço 2, verificação certa: Ldepois"));

        broker.restart(true);
        MqttPeer fresh(broker.port(), {"letreiro/#", "homeassistant/#"});
        QTRY_VERIFY_WITH_TIMEOUT(fresh.on("letreiro/loja/estado").contains("online"), 20000);
        QTRY_COMPARE(json(fresh.on("letreiro/loja/caixa/estado").value(0))["texto"].toString(),
                     QString("depois"));
        QTRY_VERIFY(fresh.messages().size() > 6);
        QVERIFY(!panel.process().waitForReadyRead(300)); // nothing ran again
    }

    // Two services with one `sitio`: the one whose session is taken says so
    // and waits a minute instead of taking it back at once.
    void twoServicesOnOneSite()
    {
        Emulator first({"--endereco", "1,2"}), second({"--endereco", "1,2"});
        Broker broker(m_dir.filePath("b4"));
        const auto a = serviceOn(first.device, broker.port());
        MqttPeer peer(broker.port(), {"letreiro/loja/estado"});
        QTRY_VERIFY(peer.on("letreiro/loja/estado").contains("online"));
        const auto b = serviceOn(second.device, broker.port());
        const QString taken = "outro serviço está usando o sítio loja";
        QTRY_VERIFY2(a->log().contains(taken), qPrintable(a->log() + b->log()));
        for (int i = 0; i < 3; ++i) {
            peer.publish("letreiro/loja/entrada/texto", QString("vez %1").arg(i).toUtf8());
            QCOMPARE(second.nextFrame(), QString("endereço 1, verificação certa: Lvez %1").arg(i));
        }
        QCOMPARE(a->log().count(taken) + b->log().count(taken), 1);
        QVERIFY(!first.process().canReadLine());
    }

    // A stop in the middle: the frame on the wire ends and is answered,
    // the rest waits in the journal and runs once after the next start;
    // `offline` comes after the last frame.
    void stoppedWithTextsWaiting()
    {
        Emulator panel({"--endereco", "1,2"});
        Broker broker(m_dir.filePath("b5"));
        const auto service = serviceOn(panel.device, broker.port());
        MqttPeer peer(broker.port(), {"resposta/#", "letreiro/loja/estado"});
        QTRY_VERIFY(peer.on("letreiro/loja/estado").contains("online"));
        const QByteArray longText(400, 'a'); // 1.7 s on the wire
        peer.publish("letreiro/loja/entrada/texto", longText, {false, "resposta/loja", "longo"});
        peer.publish("letreiro/loja/caixa/texto", "depois", {false, "resposta/loja", "b"});
        peer.publish("letreiro/loja/entrada/comando", "para", {false, "resposta/loja", "c"});
        QTRY_VERIFY(contents(service->dir.filePath("mqtt-pendentes.json")).contains("\"c\""));
        service->stop();
        QCOMPARE(panel.nextFrame(), "endereço 1, verificação certa: L" + longText);
        QTRY_VERIFY(peer.on("letreiro/loja/estado").endsWith("offline"));
        const auto messages = peer.messages();
        const auto at = [&](const QString &topic) {
            for (qsizetype i = messages.size() - 1; i >= 0; --i)
                if (messages[i].first == topic) return i;
            return qsizetype(-1);
        };
        QVERIFY(at("resposta/loja") >= 0 && at("resposta/loja") < at("letreiro/loja/estado"));
        QCOMPARE(peer.answers("resposta/").keys(), QList<QByteArray>{"longo"});
        // What comes while the site is away waits in its session on the broker.
        peer.publish("letreiro/loja/entrada/texto", "enquanto parado", {false, "resposta/loja", "d"});
        service->start(panel.device);
        QTRY_COMPARE(peer.answers("resposta/").size(), 4);
        for (const auto &list : peer.answers("resposta/"))
            QCOMPARE(list.size(), 1);
        QStringList frames{panel.nextFrame(), panel.nextFrame(), panel.nextFrame()};
        QCOMPARE(frames.removeAll("endereço 1, verificação certa: Lenquanto parado"), 1);
        QCOMPARE(frames, QStringList({"endereço 2, verificação certa: Ldepois",
                                      "endereço 1, verificação certa: P"}));
    }

    // Each line its own queue: a flood on one line leaves the other free;
    // the flood's texts replace one another (each answered once), the
    // panel ends with the last; a command whose expiry passes while it
    // waits is not sent.
    void aFloodOnOneLineAndExpiry()
    {
        Emulator panel({"--endereco", "1,2"}), other({"--endereco", "1"}),
            silent({"--resposta", "nenhuma"});
        Broker broker(m_dir.filePath("b6"));
        const auto service = serviceOn(panel.device, broker.port(),
                        QString("\n[linha fundos]\nporta = %1\n\n[painel porta]\nlinha = fundos\n"
                                "endereco = 1\n\n[linha muda]\nporta = %2\n\n[painel deposito]\n"
                                "linha = muda\nendereco = 1\n")
                            .arg(other.device, silent.device));
        MqttPeer peer(broker.port(), {"resposta/#", "letreiro/loja/estado"});
        QTRY_VERIFY(peer.on("letreiro/loja/estado").contains("online"));
        // A panel that never answers holds its line for each command's whole
        // answer time; the one-second command behind three of them cannot
        // reach the wire in time, however slowly the broker hands it over.
        for (int i = 0; i < 3; ++i)
            peer.publish("letreiro/loja/deposito/comando", "para",
                         {false, "resposta/loja", "mudo" + QByteArray::number(i)});
        peer.publish("letreiro/loja/deposito/comando", "para",
                     {false, "resposta/loja", "tarde", 1});
        constexpr int kFlood = 300;
        for (int i = 0; i < kFlood; ++i)
            peer.publish("letreiro/loja/entrada/texto",
                         QByteArray(300, 'a') + QByteArray::number(i),
                         {false, "resposta/loja", QByteArray::number(i)});
        peer.publish("letreiro/loja/porta/texto", "livre");
        QCOMPARE(other.nextFrame(), QString("endereço 1, verificação certa: Llivre"));
        QTRY_VERIFY(peer.answers("resposta/").contains(QByteArray::number(kFlood - 1)));
        QTRY_VERIFY_WITH_TIMEOUT(peer.answers("resposta/").contains("tarde"), 30000);
        QTRY_COMPARE(peer.answers("resposta/").size(), kFlood + 4);
        const auto answers = peer.answers("resposta/");
        int replaced = 0;
        for (const auto &list : answers) {
            QCOMPARE(list.size(), 1);
            replaced += json(list.first())["resultado"].toString() == "substituído";
        }
        QVERIFY2(replaced > kFlood / 2, qPrintable(QString::number(replaced)));
        QCOMPARE(json(answers.value("mudo0").first())["resultado"].toString(), "falhou");
        QCOMPARE(json(answers.value("tarde").first())["resultado"].toString(), "expirado");
        QString last;
        while (panel.process().canReadLine() || panel.process().waitForReadyRead(300))
            last = panel.nextFrame();
        QCOMPARE(last, "endereço 1, verificação certa: L" + QByteArray(300, 'a') +
                           QByteArray::number(kFlood - 1));
    }
};

QTEST_GUILESS_MAIN(TestMqttFaults)
#include "tst_mqttfaults.moc"
