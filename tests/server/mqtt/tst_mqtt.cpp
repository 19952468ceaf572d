// letreiro-servidor's site on an MQTT broker (real Mosquitto): texts and
// commands in, each panel's state out, a journal that survives a kill, a
// broker that comes back, TLS and passwords. A stop with texts waiting is
// tst_mqttfaults'.
#include "mqttpeers.h"
#include "serverprocess.h"

#include <QElapsedTimer>

#include <sys/resource.h>

namespace
{
quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void run(const QString &dir, const QString &program, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    QVERIFY2(p.waitForFinished(60000) && p.exitCode() == 0, qPrintable(p.readAllStandardError()));
}
} // namespace

class TestMqtt : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<ServerProcess> s; // a folder of its own for each test

    // The service again on the same panel and files, signed in.
    void restartService()
    {
        s->server.terminate();
        s->server.waitForFinished(10000);
        s->start(s->panel->device);
        s->login();
    }
    QJsonObject mqttState()
    {
        return s->call("GET", "/api/estado").json()["mqtt"].toObject();
    }

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

    // A chain's broker: TLS against its own CA, a password per site and,
    // on a second listener, a client certificate; a wrong CA said in words.
    void aBrokerWithTlsAndPasswords()
    {
        const QString dir = s->dir.filePath("tls");
        QDir().mkpath(dir);
        const auto run = [&](const QString &program, const QStringList &args) {
            ::run(dir, program, args);
        };
        writeFile(dir + "/ext.cnf", "subjectAltName=IP:127.0.0.1\n");
        run("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key",
                        "-out", "ca.crt", "-days", "2", "-subj", "/CN=Rede de lojas"});
        run("openssl", {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "broker.key", "-out",
                        "broker.csr", "-subj", "/CN=127.0.0.1"});
        run("openssl",
            {"x509", "-req", "-in", "broker.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
             "-CAcreateserial", "-out", "broker.crt", "-days", "2", "-extfile", "ext.cnf"});
        run("openssl", {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "loja.key", "-out",
                        "loja.csr", "-subj", "/CN=loja"});
        run("openssl", {"x509", "-req", "-in", "loja.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                        "-CAcreateserial", "-out", "loja.crt", "-days", "2"});
        run("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "outra.key",
                        "-out", "outra.crt", "-days", "2", "-subj", "/CN=Outra rede"});
        run("mosquitto_passwd", {"-b", "-c", "senhas", "loja", "segredo da loja"});
        run("mosquitto_passwd", {"-b", "senhas", "escritorio", "outra"});
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
                                 .arg(withCertificate)
                                 .arg(ca);
        };
        configure("ca.crt");
        s->keepLog = true;
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
        configure("outra.crt");
        restartService();
        const QString words = "o certificado do broker não confere com tls_ca";
        QTRY_COMPARE(mqttState()["motivo"].toString(), words);
        QCOMPARE(mqttState()["estado"].toString(), QString("recusado"));
        QVERIFY(s->call("GET", "/api/estado").json()["avisos"].toArray().contains("MQTT: " + words));
        QTest::qWait(2500); // a few attempts more: said once
        QCOMPARE(s->log().count(words), 1);
        s->stop(); // before the broker goes
    }

    // What the service sees of a broker that is not its friend: each
    // refusal named in the log and `avisos`, an answer never sent to the
    // service's own input, a deaf site never said online, a password
    // refused, and the link in each state through GET /api/estado.
    void anUnfriendlyBroker()
    {
        const QString dir = s->dir.filePath("acl");
        QDir().mkpath(dir);
        run(dir, "mosquitto_passwd", {"-b", "-c", "senhas", "loja", "segredo"});
        run(dir, "mosquitto_passwd", {"-b", "senhas", "escritorio", "outra"});
        // Its topics, but not the answers' nor Home Assistant's; later, not
        // even the reading of its own.
        const auto acl = [&](bool read) {
            writeFile(dir + "/acl", QString("user escritorio\ntopic readwrite #\nuser loja\n"
                                            "topic %1 letreiro/loja/#\n")
                                        .arg(read ? "readwrite" : "write")
                                        .toUtf8());
        };
        acl(true);
        Broker broker(dir + "/broker", {},
                      QString("allow_anonymous false\npassword_file %1/senhas\nacl_file %1/acl\n").arg(dir));
        const auto configure = [&](const QString &password) {
            s->extraConfig = QString("[mqtt]\nservidor = 127.0.0.1:%1\nsitio = loja\nusuario = loja\n"
                                     "senha = %2\ndescoberta = sim\n")
                                 .arg(broker.port())
                                 .arg(password);
        };
        configure("segredo");
        s->keepLog = true;
        s->startWithPanel();
        s->login();
        MqttPeer office(broker.port(), {"#"}, {}, {{}, "escritorio", "outra"});
        QTRY_VERIFY(office.on("letreiro/loja/estado").contains("online"));
        QCOMPARE(mqttState()["estado"].toString(), QString("conectado"));
        office.publish("letreiro/loja/entrada/texto", "Oferta", {false, "resposta/loja", "a"});
        QCOMPARE(s->panel->nextFrame(), QString("endereço 1, verificação certa: LOferta"));
        office.publish("letreiro/loja/caixa/texto", "Eco", {false, "letreiro/loja/caixa/texto", "b"});
        QCOMPARE(s->panel->nextFrame(), QString("endereço 2, verificação certa: LEco"));
        const QString answer = "o broker recusou a publicação em resposta/loja: sem permissão (0x87)";
        QTRY_VERIFY2(s->log().contains(answer), qPrintable(s->log()));
        QVERIFY(s->log().contains("tópico de resposta recusado"));
        QVERIFY(!s->panel->process().waitForReadyRead(500)); // no answer came back as a text
        const auto warnings = [&] {
            return s->call("GET", "/api/estado").json()["avisos"].toVariant().toStringList().join('\n');
        };
        QTRY_VERIFY(warnings().contains(answer));
        QVERIFY(warnings().contains("o broker recusou a publicação em homeassistant/"));
        restartService(); // the discovery file has what the broker took: nothing
        QVERIFY(!contents(s->dir.filePath("mqtt-descoberta.json")).contains("homeassistant"));

        // The broker no longer lets it read: granted all the same, delivered never.
        acl(false);
        broker.restart();
        const QString deaf =
            "o broker não entrega ao serviço as mensagens do sítio (permissão de leitura?)";
        QTRY_VERIFY_WITH_TIMEOUT(warnings().contains(deaf), 15000);
        QVERIFY(s->log().contains(deaf));
        QTRY_COMPARE(office.on("letreiro/loja/estado").last(), QByteArray("sem leitura"));

        configure("errada");
        restartService();
        // Mosquitto says 0x87 where other brokers say 0x86.
        const QString refused = "usuário ou senha recusados pelo broker (0x87)";
        QTRY_COMPARE(mqttState()["motivo"].toString(), refused);
        QCOMPARE(mqttState()["estado"].toString(), QString("recusado"));
        QVERIFY(!mqttState()["proxima_tentativa"].toString().isEmpty());
        QVERIFY(warnings().contains("MQTT: " + refused));
        broker.stop();
        QTRY_COMPARE_WITH_TIMEOUT(mqttState()["estado"].toString(), QString("reconectando"), 20000);
        QVERIFY2(mqttState()["motivo"].toString().contains("não responde"),
                 qPrintable(mqttState()["motivo"].toString()));
        s->extraConfig.clear();
        restartService();
        QCOMPARE(mqttState()["estado"].toString(), QString("desligado"));
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

    // A full disk (a file-size limit: a read-only folder does not stop
    // root): the history keeps its last whole version, the failure is in
    // the log and `avisos`, and after a kill a start finds every entry
    // written before it.
    void aFullDiskLeavesTheHistoryWhole()
    {
        s->keepLog = true;
        s->server.setChildProcessModifier([] {
            const rlimit limit{6000, 6000};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        s->startWithPanel();
        s->login();
        const QString history = s->dir.filePath("historico.json");
        QByteArray lastWhole;
        int sent = 0;
        for (; sent < 60 && !s->log().contains("historico.json"); ++sent) {
            QCOMPARE(s->call("POST", "/api/paineis/entrada/texto",
                             QString(R"({"texto":"texto %1 %2"})").arg(sent).arg(QString(100, u'x')).toUtf8())
                         .status,
                     200);
            const QByteArray mark = "texto " + QByteArray::number(sent) + " ";
            QTRY_VERIFY(contents(history).contains(mark) || s->log().contains("historico.json"));
            if (!s->log().contains("historico.json")) lastWhole = contents(history);
        }
        QVERIFY2(s->log().contains("não foi possível gravar " + history +
                                   ": o arquivo passa do tamanho que o sistema permite"),
                 qPrintable(s->log()));
        QVERIFY(s->call("GET", "/api/estado").json()["avisos"].toVariant().toStringList().join('\n').contains(
            "não foi possível gravar " + history));
        QCOMPARE(contents(history), lastWhole);
        const int kept = int(QJsonDocument::fromJson(lastWhole).array().size());
        QVERIFY(kept > 10);
        s->server.kill();
        s->server.waitForFinished();
        s->server.setChildProcessModifier({});
        restartService();
        QCOMPARE(int(s->call("GET", "/api/historico").json().toArray().size()), kept);
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
        QCOMPARE(QJsonDocument::fromJson(peer.answers("resposta/").value("p1").first())
                     .object()["resultado"].toString(),
                 QString("enviado"));
        s->stop();
    }
};

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
