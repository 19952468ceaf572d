// letreiro-servidor's site on an MQTT broker (real Mosquitto), for what
// only a real one shows: texts and commands in, each panel's state out, a
// session that keeps what is published during a kill, brokers that restart,
// TLS and passwords, an ACL, a bridge. The rules behind them run
// in-process in tst_mqttbridge; a stop with texts waiting is tst_mqttfaults'.
#include "mqttclient.h"
#include "mqttpeers.h"
#include "serverprocess.h"

#include <QElapsedTimer>

static void run(const QString &dir, const QString &program, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    QVERIFY2(p.waitForFinished(60000) && p.exitCode() == 0, qPrintable(p.readAllStandardError()));
}

class TestMqtt : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<ServerProcess> s; // a folder of its own for each test

    QJsonObject mqttState() { return s->call("GET", "/api/estado").json()["mqtt"].toObject(); }

private Q_SLOTS:
    void init() { s = std::make_unique<ServerProcess>(); }
    void cleanup()
    {
        s->stop();
        s.reset();
    }

    // An answer given while the broker is away is delivered at the next
    // connection's PUBACK, not before: its journal entry waits for that.
    void anAnswerGivenOfflineIsDeliveredOnlyOnceTheBrokerHasIt()
    {
        Broker broker(s->dir.filePath("b"));
        broker.stop();
        MqttClient client;
        std::atomic<int> acknowledged{-1};
        std::atomic<bool> delivered{false};
        client.acknowledged = [&](const QString &topic, int reason) {
            if (topic == "resposta/loja") acknowledged = reason;
        };
        QString error;
        const MqttLink::Settings s{"teste", "127.0.0.1", broker.port(), {}, {}, {}, {}, {}, 60, {}, {}};
        QVERIFY2(client.start(s, &error), qPrintable(error));
        client.answer("resposta/loja", "{\"ok\":true}", "7", [&] { delivered = true; });
        QVERIFY(!delivered);
        broker.start();
        QTRY_VERIFY_WITH_TIMEOUT(delivered, 15000);
        QVERIFY(acknowledged >= 0 && acknowledged < 0x80); // taken, though nobody listens (0x10)
    }

    void siteOnTheBroker()
    {
        Broker broker(s->dir.filePath("broker"));
        s->extraConfig = QString("[mqtt]\nservidor = 127.0.0.1:%1\nsitio = loja\n").arg(broker.port());
        s->startWithPanel();
        MqttPeer peer(broker.port(), {"letreiro/#"});
        QTRY_VERIFY(peer.on("letreiro/loja/estado").contains("online")); // subscribed, too
        // A text as `transfere --texto` sends it; a command to every panel.
        const QString text = "Olá <Pisca______>ação 25°C";
        peer.publish("letreiro/loja/entrada/texto", text.toUtf8());
        const QString viaMqtt = s->panel->nextFrame();
        QCOMPARE(cli({"transfere", "--porta", s->relay, "--endereco", "1", "--texto", text}).status,
                 0);
        QCOMPARE(s->panel->nextFrame(), viaMqtt);
        peer.publish("letreiro/loja/todos/comando", "para");
        QCOMPARE(
            QStringList({s->panel->nextFrame(), s->panel->nextFrame()}),
            QStringList({"endereço 1, verificação certa: P", "endereço 2, verificação certa: P"}));
        QTRY_COMPARE(peer.on("letreiro/loja/caixa/estado").size(), 1); // its exchange over

        // Killed without a word while texts wait for the line: the last
        // will; the newest text waiting, and what is published meanwhile,
        // reaches the panel once the service is back, oldest first (the
        // one on the wire perhaps twice).
        for (int i = 0; i < 4; ++i)
            peer.publish("letreiro/loja/caixa/texto", QString("fila %1").arg(i).toUtf8());
        QCOMPARE(s->panel->nextFrame(), QString("endereço 2, verificação certa: Lfila 0"));
        s->kill();
        QTRY_VERIFY(peer.on("letreiro/loja/estado").endsWith("offline"));
        peer.publish("letreiro/loja/caixa/texto", "fora 1");
        peer.publish("letreiro/loja/caixa/texto", "fora 2");
        s->start(s->panel->device);
        const QStringList order = {"Lfila 0", "Lfila 1", "Lfila 2",
                                   "Lfila 3", "Lfora 1", "Lfora 2"};
        QStringList after;
        while (!after.contains("Lfora 2") && after.size() < 10)
            after.append(s->panel->nextFrame().section(": ", 1));
        QVERIFY2(after.last() == "Lfora 2" && after.size() <= 4 &&
                     std::is_sorted(after.cbegin(), after.cend(),
                                    [&](const QString &a, const QString &b) {
                                        return order.indexOf(a) < order.indexOf(b);
                                    }),
                 qPrintable(after.join(" | ")));
        QTRY_VERIFY(peer.on("letreiro/loja/estado").endsWith("online"));
        s->stop(); // before the broker goes
    }

    // A chain's broker: TLS against its own CA, a password per site and,
    // on a second listener, a client certificate; a wrong CA said in words.
    void aBrokerWithTlsAndPasswords()
    {
        const QString dir = s->dir.filePath("tls");
        QDir().mkpath(dir);
        writeFile(dir + "/ext.cnf", "subjectAltName=IP:127.0.0.1\n");
        for (const char *args :
             {"req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj /CN=Lojas",
              "req -newkey rsa:2048 -nodes -keyout broker.key -out broker.csr -subj /CN=127.0.0.1",
              "x509 -req -in broker.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out broker.crt "
              "-days 2 -extfile ext.cnf",
              "req -newkey rsa:2048 -nodes -keyout loja.key -out loja.csr -subj /CN=loja",
              "x509 -req -in loja.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out loja.crt -days 2",
              "req -x509 -newkey rsa:2048 -nodes -keyout outra.key -out outra.crt -days 2 "
              "-subj /CN=Outra"})
            run(dir, "openssl", QString(args).split(' '));
        run(dir, "mosquitto_passwd", {"-b", "-c", "senhas", "loja", "segredo da loja"});
        run(dir, "mosquitto_passwd", {"-b", "senhas", "escritorio", "outra"});
        const QString files =
            QString("cafile %1/ca.crt\ncertfile %1/broker.crt\nkeyfile %1/broker.key\n").arg(dir);
        const quint16 withCertificate = freePort();
        Broker broker(dir + "/broker",
                      files + QString("listener %1 127.0.0.1\n").arg(withCertificate) + files +
                          "require_certificate true\n",
                      QString("allow_anonymous false\npassword_file %1/senhas\n").arg(dir));
        const auto configure = [&](const QString &ca) {
            s->extraConfig = QString("[mqtt]\nservidor = 127.0.0.1:%1\nsitio = loja\nusuario = loja\n"
                                     "senha = segredo da loja\ntls_ca = tls/%2\n"
                                     "tls_certificado = tls/loja.crt\ntls_chave = tls/loja.key\n")
                                 .arg(withCertificate).arg(ca);
        };
        configure("ca.crt");
        s->keepLog = true;
        s->startWithPanel();
        const QString ca = dir + "/ca.crt";
        MqttPeer stranger(broker.port(), {"letreiro/#"}, {}, {ca, "escritorio", "errada"});
        MqttPeer office(broker.port(), {"letreiro/#"}, {}, {ca, "escritorio", "outra"});
        QTRY_VERIFY(office.on("letreiro/loja/estado").contains("online")); // subscribed, too
        office.publish("letreiro/loja/entrada/texto", "Portão aberto");
        QCOMPARE(s->panel->nextFrame(), "endereço 1, verificação certa: LPort\u00e3o aberto");
        QVERIFY(!stranger.subscribed() && stranger.messages().isEmpty());
        configure("outra.crt");
        s->server.terminate(); // the service again on the same panel and files, signed in
        s->server.waitForFinished(10000);
        s->start(s->panel->device);
        s->login();
        const QString words = "o certificado do broker não confere com tls_ca";
        QTRY_COMPARE(mqttState()["motivo"].toString(), words);
        QCOMPARE(mqttState()["estado"].toString(), QString("recusado"));
        QVERIFY(s->call("GET", "/api/estado").json()["avisos"].toArray().contains("MQTT: " + words));
        s->stop(); // before the broker goes
    }

    // A broker that is not its friend, as Mosquitto's ACL makes it: each
    // publication refused is named in the log and `avisos`, and a site the
    // broker lets subscribe but never delivers to is said deaf.
    void anUnfriendlyBroker()
    {
        const QString dir = s->dir.filePath("acl");
        QDir().mkpath(dir);
        run(dir, "mosquitto_passwd", {"-b", "-c", "senhas", "loja", "segredo"});
        run(dir, "mosquitto_passwd", {"-b", "senhas", "escritorio", "outra"});
        // Its topics, but not the answers' nor Home Assistant's; later, not
        // even the reading of its own.
        const auto acl = [&](const QByteArray &loja) {
            writeFile(dir + "/acl", "user escritorio\ntopic readwrite #\nuser loja\ntopic " + loja +
                                        " letreiro/loja/#\n");
        };
        acl("readwrite");
        Broker broker(dir + "/broker", {},
                      QString("allow_anonymous false\npassword_file %1/senhas\nacl_file %1/acl\n").arg(dir));
        s->extraConfig = QString("[mqtt]\nservidor = 127.0.0.1:%1\nsitio = loja\nusuario = loja\n"
                                 "senha = segredo\ndescoberta = sim\n")
                             .arg(broker.port());
        s->keepLog = true;
        s->startWithPanel();
        s->login();
        MqttPeer office(broker.port(), {"#"}, {}, {{}, "escritorio", "outra"});
        QTRY_VERIFY(office.on("letreiro/loja/estado").contains("online"));
        office.publish("letreiro/loja/entrada/texto", "Oferta", {false, "resposta/loja", "a"});
        QCOMPARE(s->panel->nextFrame(), QString("endereço 1, verificação certa: LOferta"));
        const QString answer = "o broker recusou a publicação em resposta/loja: sem permissão (0x87)";
        QTRY_VERIFY2(s->log().contains(answer), qPrintable(s->log()));
        const auto warnings = [&] {
            return s->call("GET", "/api/estado").json()["avisos"].toVariant().toStringList().join('\n');
        };
        QTRY_VERIFY(warnings().contains(answer));
        QVERIFY(warnings().contains("o broker recusou a publicação em homeassistant/"));

        // The broker no longer lets it read: granted all the same, delivered never.
        acl("write");
        broker.restart();
        const QString deaf =
            "o broker não entrega ao serviço as mensagens do sítio (permissão de leitura?)";
        QTRY_VERIFY_WITH_TIMEOUT(warnings().contains(deaf), 15000);
        QVERIFY(s->log().contains(deaf));
        QTRY_COMPARE(office.on("letreiro/loja/estado").last(), QByteArray("sem leitura"));
        s->stop();
    }

    // A broker restarted twice within a minute costs the site the time it
    // is down and a second: no "outro serviço", no minute away.
    void twoBrokerRestartsWithinAMinute()
    {
        Broker broker(s->dir.filePath("broker"));
        s->extraConfig = QString("[mqtt]\nservidor = 127.0.0.1:%1\nsitio = loja\n").arg(broker.port());
        s->keepLog = true;
        s->startWithPanel();
        s->login();
        QTRY_COMPARE(mqttState()["estado"].toString(), QString("conectado"));
        for (int i = 0; i < 2; ++i) {
            broker.stop();
            QTRY_COMPARE(mqttState()["estado"].toString(), QString("reconectando"));
            QCOMPARE(mqttState()["motivo"].toString(),
                     QString("a conexão com 127.0.0.1:%1 caiu").arg(broker.port()));
            QTest::qWait(1500);
            broker.start(); // returns once the broker answers
            QElapsedTimer back;
            back.start();
            QTRY_COMPARE_WITH_TIMEOUT(mqttState()["estado"].toString(), QString("conectado"), 10000);
            qInfo("restart %d: the site back %lld ms after the broker answered", i + 1,
                  back.elapsed());
        }
        MqttPeer peer(broker.port(), {"letreiro/loja/estado"});
        QTRY_COMPARE(peer.on("letreiro/loja/estado").value(0), QByteArray("online"));
        peer.publish("letreiro/loja/entrada/texto", "de volta");
        QCOMPARE(s->panel->nextFrame(), QString("endereço 1, verificação certa: Lde volta"));
        QVERIFY(!s->log().contains("outro serviço"));
        s->stop();
    }

    // A mosquitto bridge in MQTT 5 carries the Response Topic and the
    // Correlation Data: the office's request, on its own broker, is answered.
    void aBridgeCarriesTheAnswerBack()
    {
        Broker office(s->dir.filePath("escritorio"));
        Broker shop(s->dir.filePath("loja"), {},
                    QString("allow_anonymous true\nconnection escritorio\naddress 127.0.0.1:%1\n"
                            "bridge_protocol_version mqttv50\n"
                            "topic letreiro/loja/+/texto in 1\ntopic letreiro/loja/+/comando in 1\n"
                            "topic letreiro/loja/estado out 1\ntopic letreiro/loja/+/estado out 1\n"
                            "topic resposta/loja/# out 1\n")
                        .arg(office.port()));
        s->extraConfig = QString("[mqtt]\nservidor = 127.0.0.1:%1\nsitio = loja\n").arg(shop.port());
        s->startWithPanel();
        MqttPeer peer(office.port(), {"resposta/#", "letreiro/loja/estado"});
        QTRY_VERIFY_WITH_TIMEOUT(peer.on("letreiro/loja/estado").contains("online"), 15000);
        peer.publish("letreiro/loja/entrada/texto", "Pela ponte", {false, "resposta/loja/a", "p1"});
        QCOMPARE(s->panel->nextFrame(), QString("endereço 1, verificação certa: LPela ponte"));
        QTRY_VERIFY(peer.answers("resposta/").contains("p1"));
        const QByteArray answer = peer.answers("resposta/").value("p1").first();
        QCOMPARE(QJsonDocument::fromJson(answer)["resultado"].toString(), QString("enviado"));
        s->stop();
    }
};

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
