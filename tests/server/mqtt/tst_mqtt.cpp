// letreiro-servidor's site on an MQTT broker (real Mosquitto): texts and
// commands in, each panel's state out, a journal that survives a kill, a
// broker that comes back, TLS and passwords. A stop with texts waiting is
// tst_mqttfaults'.
#include "mqttpeers.h"
#include "serverprocess.h"

class TestMqtt : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<ServerProcess> s; // a folder of its own for each test

private Q_SLOTS:
    void init() { s = std::make_unique<ServerProcess>(); }
    void cleanup()
    {
        s->stop();
        s.reset();
    }

    void siteOnTheBroker()
    {
        Broker broker(s->dir.filePath("broker"));
        s->extraConfig =
            QString("[mqtt]\nservidor = 127.0.0.1:%1\nsitio = loja\ndescoberta = sim\n\n"
                    "[agenda relogio]\nquando = 03:00\ncomando = hora\n")
                .arg(broker.port());
        s->startWithPanel();
        MqttPeer peer(broker.port(), {"letreiro/#", "homeassistant/#"});
        QTRY_VERIFY(peer.subscribed());
        QTRY_VERIFY(peer.on("letreiro/loja/estado").contains("online"));
        // One config per command of each panel, each once.
        QTRY_COMPARE(peer.answers("homeassistant/button/letreiro_loja_caixa_").value({}).size(), 5);

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
        QTRY_VERIFY(peer.on("letreiro/loja/caixa/estado").size() == 1);
        const QJsonObject state =
            QJsonDocument::fromJson(peer.on("letreiro/loja/entrada/estado").last()).object();
        QCOMPARE(state.value("texto").toString(), text);
        QVERIFY(state.value("ok").toBool() && state.contains("quando") &&
                state.contains("resultado"));

        // The agenda: the configuration's entry is fixed; one of the API's
        // runs at the next minute, into the history and onto the broker.
        s->login();
        QCOMPARE(
            s->call("GET", "/api/agenda").json().toArray().at(0).toObject().value("fixa").toBool(),
            true);
        QCOMPARE(s->call("PUT", "/api/agenda",
                         R"([{"nome":"relogio","quando":"04:00","comando":"data"}])")
                     .status,
                 400);
        QCOMPARE(s->call("PUT", "/api/agenda",
                         R"([{"nome":"x","quando":"04:00","paineis":"porta","texto":"a"}])")
                     .status,
                 400);
        QCOMPARE(s->call("PUT", "/api/agenda",
                         "[{\"nome\":\"a;b]\",\"quando\":\"04:00\",\"texto\":\"a\"}]")
                     .status,
                 400);
        // (Its runs, on virtual time, are the in-process tests'.)
        QCOMPARE(s->call("PUT", "/api/agenda",
                         R"([{"nome":"promo","quando":"04:00","paineis":"caixa","texto":"Oi"}])")
                     .status,
                 200);
        QVERIFY(contents(s->dir.filePath("agenda.ini")).contains("[agenda promo]"));

        // Killed without a word while texts wait for the line: the last
        // will; the newest text waiting, and what is published meanwhile,
        // reaches the panel once the service is back, oldest first (the
        // one on the wire perhaps twice).
        for (int i = 0; i < 4; ++i)
            peer.publish("letreiro/loja/caixa/texto", QString("fila %1").arg(i).toUtf8());
        QCOMPARE(s->panel->nextFrame(), QString("endereço 2, verificação certa: Lfila 0"));
        s->server.kill();
        s->server.waitForFinished();
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

        // The broker goes away and comes back: the service finds it again.
        broker.restart();
        QTRY_VERIFY_WITH_TIMEOUT(peer.subscribed(), 10000);
        peer.publish("letreiro/loja/entrada/texto", "de volta");
        QTRY_VERIFY_WITH_TIMEOUT(s->panel->process().canReadLine(), 40000);
        QCOMPARE(s->panel->nextFrame(), QString("endereço 1, verificação certa: Lde volta"));
        QVERIFY(!s->panel->process().waitForReadyRead(1000)); // nothing twice
        s->stop();                                            // before the broker goes
    }

    // A chain's broker: TLS against its own CA and a password per site.
    void aBrokerWithTlsAndPasswords()
    {
        const QString dir = s->dir.filePath("tls");
        QDir().mkpath(dir);
        const auto run = [&](const QString &program, const QStringList &args) {
            QProcess p;
            p.setWorkingDirectory(dir);
            p.start(program, args);
            QVERIFY2(p.waitForFinished(60000) && p.exitCode() == 0,
                     qPrintable(p.readAllStandardError()));
        };
        writeFile(dir + "/ext.cnf", "subjectAltName=IP:127.0.0.1\n");
        run("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key",
                        "-out", "ca.crt", "-days", "2", "-subj", "/CN=Rede de lojas"});
        run("openssl", {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "broker.key", "-out",
                        "broker.csr", "-subj", "/CN=127.0.0.1"});
        run("openssl",
            {"x509", "-req", "-in", "broker.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
             "-CAcreateserial", "-out", "broker.crt", "-days", "2", "-extfile", "ext.cnf"});
        run("mosquitto_passwd", {"-b", "-c", "senhas", "loja", "segredo da loja"});
        run("mosquitto_passwd", {"-b", "senhas", "escritorio", "outra"});
        Broker broker(
            dir + "/broker",
            QString("cafile %1/ca.crt\ncertfile %1/broker.crt\nkeyfile %1/broker.key\n").arg(dir),
            QString("allow_anonymous false\npassword_file %1/senhas\n").arg(dir));
        s->extraConfig = QString("[mqtt]\nservidor = 127.0.0.1:%1\nsitio = loja\nusuario = loja\n"
                                 "senha = segredo da loja\ntls_ca = tls/ca.crt\n")
                             .arg(broker.port());
        s->startWithPanel();
        const QString ca = dir + "/ca.crt";
        MqttPeer stranger(broker.port(), {"letreiro/#"}, {}, {ca, "escritorio", "errada"});
        MqttPeer office(broker.port(), {"letreiro/#"}, {}, {ca, "escritorio", "outra"});
        QTRY_VERIFY(office.subscribed());
        QTRY_VERIFY(office.on("letreiro/loja/estado").contains("online"));
        office.publish("letreiro/loja/entrada/texto", "Portão aberto");
        QCOMPARE(s->panel->nextFrame(),
                 QString("endereço 1, verificação certa: LPort\u00e3o aberto"));
        QVERIFY(!stranger.subscribed() && stranger.messages().isEmpty());
        s->stop(); // before the broker goes
    }
};

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
