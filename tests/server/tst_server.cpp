// letreiro-servidor over real sockets: the login and its limits, hostile
// requests, the frames it sends byte for byte, and many clients (web and
// letreiro-cli through the relay) sharing one line, each frame whole and
// each answer to its own client; the agenda and the site on an MQTT broker.
#include "cli/clirunner.h"
#include "frame.h"
#include "mqttpeers.h"
#include "testfiles.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace
{

struct Reply {
    int status = 0;
    QByteArray body;
    QByteArray cookie;
    QJsonValue json() const
    {
        const QJsonDocument d = QJsonDocument::fromJson(body);
        return d.isArray() ? QJsonValue(d.array()) : QJsonValue(d.object());
    }
};

} // namespace

class TestServer : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QProcess m_server;
    QString m_url, m_relay, m_cookie;
    QString m_extraConfig;
    std::unique_ptr<Emulator> m_panel;
    QNetworkAccessManager m_net;

    QString config(const QString &device)
    {
        const QString path = m_dir.filePath("letreiro.ini");
        writeFile(path, QString("[servidor]\nescuta = 127.0.0.1:0 ; qualquer porta livre\n"
                                "mensagens = mensagens\n\n[linha sala]\nporta = %1\n"
                                "repasse = 127.0.0.1:0\n\n[painel entrada]\nlinha = sala\n"
                                "endereco = 1\ntipo = 0\n\n[painel caixa]\nlinha = sala\n"
                                "endereco = 2\n\n%2")
                            .arg(device, m_extraConfig)
                            .toUtf8());
        return path;
    }

    void startServer(const QString &device)
    {
        const QString cfg = config(device);
        QProcess user;
        user.start(LETREIRO_SERVIDOR, {"--config", cfg, "--usuario", "ana"});
        user.write("segredo\n");
        user.closeWriteChannel();
        QVERIFY(user.waitForFinished(20000));
        QCOMPARE(user.exitCode(), 0);
        // What the service says on stderr goes to the test's output.
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.start(LETREIRO_SERVIDOR, {"--config", cfg});
        QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine(), 10000);
        m_url = QString::fromUtf8(m_server.readLine()).trimmed();
        QVERIFY2(m_url.startsWith("http://127.0.0.1:"), qPrintable(m_url));
        QTRY_VERIFY(m_server.canReadLine());
        m_relay = QString::fromUtf8(m_server.readLine()).trimmed().section(' ', 2);
    }

    Reply call(const QByteArray &method, const QString &path, const QByteArray &body = {},
               const QByteArray &auth = {})
    {
        QNetworkRequest req(QUrl(m_url + path));
        req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        if (!auth.isEmpty())
            req.setRawHeader("Authorization", auth);
        else if (!m_cookie.isEmpty())
            req.setRawHeader("Cookie", m_cookie.toUtf8());
        QNetworkReply *r = m_net.sendCustomRequest(req, method, body);
        QSignalSpy done(r, &QNetworkReply::finished);
        done.wait(30000);
        Reply out{r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), r->readAll(),
                  r->rawHeader("Set-Cookie")};
        r->deleteLater();
        return out;
    }

    void login()
    {
        const Reply r = call("POST", "/api/entrar", R"({"usuario":"ana","senha":"segredo"})");
        QCOMPARE(r.status, 200);
        m_cookie = QString::fromUtf8(r.cookie).section(';', 0, 0);
    }

private Q_SLOTS:
    void init()
    {
        m_panel = std::make_unique<Emulator>(QStringList{"--endereco", "1,2"});
        startServer(m_panel->device);
    }

    void cleanup()
    {
        m_server.terminate();
        m_server.waitForFinished(10000);
        m_panel.reset();
        m_cookie.clear();
    }

    void nobodyGetsInWhoDoesNotBelong()
    {
        QCOMPARE(call("GET", "/").status, 200); // the page itself, to log in
        for (const char *path : {"/api/paineis", "/api/historico", "/api/mensagens", "/api/previa"})
            QCOMPARE(call("GET", path).status, 401);
        QCOMPARE(call("POST", "/api/paineis/entrada/texto", R"({"texto":"x"})").status, 401);
        QVERIFY(!m_panel->process().waitForReadyRead(200));
        Reply r = call("POST", "/api/entrar", R"({"usuario":"ana","senha":"segredo"})");
        QCOMPARE(r.status, 200);
        QVERIFY(r.cookie.contains("HttpOnly") && r.cookie.contains("SameSite=Strict"));
        m_cookie = QString::fromUtf8(r.cookie).section(';', 0, 0);
        QCOMPARE(call("GET", "/api/paineis").status, 200);
        QCOMPARE(call("POST", "/api/sair", "{}").status, 200);
        QCOMPARE(call("GET", "/api/paineis").status, 401);
        m_cookie.clear();
        // Scripts: a token, stored only hashed.
        QProcess token;
        token.start(LETREIRO_SERVIDOR,
                    {"--config", m_dir.filePath("letreiro.ini"), "--novo-token", "script"});
        QVERIFY(token.waitForFinished(20000));
        const QByteArray t = token.readAllStandardOutput().trimmed();
        QVERIFY(!contents(m_dir.filePath("usuarios.json")).contains(t));
        QVERIFY(!contents(m_dir.filePath("usuarios.json")).contains("segredo"));
        // The running service reads its users at start.
        cleanup();
        init();
        QCOMPARE(call("GET", "/api/paineis", {}, "Bearer " + t).status, 200);
        QCOMPARE(call("GET", "/api/paineis", {}, "Bearer x" + t).status, 401);
        // Five wrong logins from one address, then a minute of 429.
        for (int i = 0; i < 5; ++i)
            QCOMPARE(call("POST", "/api/entrar", R"({"usuario":"ana","senha":"nao"})").status, 401);
        QCOMPARE(call("POST", "/api/entrar", R"({"usuario":"ana","senha":"segredo"})").status, 429);
    }

    void hostileRequestsStopNothing()
    {
        login();
        QCOMPARE(call("PUT", "/api/mensagens/grande.msg", QByteArray(5 << 20, 'x')).status, 413);
        QCOMPARE(call("POST", "/api/paineis/entrada/texto", "{nao é json").status, 400);
        QCOMPARE(call("POST", "/api/paineis/entrada/texto", "[1,2]").status, 400);
        QCOMPARE(call("POST", "/api/paineis/ninguem/texto", R"({"texto":"x"})").status, 404);
        QCOMPARE(call("POST", "/api/paineis/entrada/comando", R"({"comando":"explode"})").status,
                 404);
        for (const char *name :
             {"..%2Fusuarios.json", "%2Fetc%2Fpasswd", ".escondida.msg", "a.txt"})
            QVERIFY(call("GET", QString("/api/mensagens/") + name).status >= 400);
        QCOMPARE(call("PUT", "/api/mensagens/ruim.msg", "não é RTF").status, 400);
        QCOMPARE(call("PUT", "/api/mensagens/promo.msg", "{\\rtf1 Promo}").status, 200);
        QCOMPARE(call("GET", "/api/mensagens").json().toArray(), QJsonArray{"promo.msg"});
        QCOMPARE(call("GET", "/api/previa?texto=x&largura=7").status, 400);
        QCOMPARE(call("GET", "/api/previa?texto=x&largura=12&ate=nan").status, 400);
        // Still serving.
        const Reply sent =
            call("POST", "/api/paineis/caixa/mensagem", R"({"arquivo":"promo.msg"})");
        QCOMPARE(sent.json().toObject().value("resultado").toString(),
                 QString("Transmissão bem sucedida."));
        QCOMPARE(m_panel->nextFrame(), QString("endereço 2, verificação certa: LPromo"));
        const Reply svg =
            call("GET", "/api/previa?texto=Ol%C3%A1%20%3CPisca______%3E&largura=12&ate=20");
        QCOMPARE(svg.status, 200);
        QVERIFY(svg.body.startsWith("<?xml") && svg.body.contains("data-periodo"));
        const QJsonArray panels = call("GET", "/api/paineis").json().toArray();
        QCOMPARE(panels[1].toObject().value("ultimo").toObject().value("ok").toBool(), true);
        const QJsonArray history = call("GET", "/api/historico").json().toArray();
        QCOMPARE(history.last().toObject().value("quem").toString(), QString("ana"));
    }

    // What the API sends is, byte for byte, what `transfere --texto` sends.
    void framesAsTheCliSendsThem()
    {
        cleanup();
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        std::atomic<bool> stop{false};
        QByteArray received;
        std::thread standIn([&] {
            const QByteArray ack = frame::build(1, QByteArray(1, char(frame::kAck)));
            while (!stop) {
                pollfd p{master, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0) continue;
                char buf[256];
                const ssize_t n = read(master, buf, sizeof buf);
                if (n <= 0) continue;
                received.append(buf, n);
                if (received.endsWith(frame::build(1, "LOlá <Pisca______>!").right(1)) &&
                    received.size() >= 10)
                    (void)!write(master, ack.constData(), size_t(ack.size()));
            }
        });
        m_panel = std::make_unique<Emulator>(); // unused here
        startServer(QString::fromLocal8Bit(ptsname(master)));
        login();
        const QString text = QString::fromUtf8("Olá <Pisca______>ação 25°C");
        const Reply r = call("POST", "/api/paineis/entrada/texto",
                             QJsonDocument(QJsonObject{{"texto", text}}).toJson());
        stop = true;
        standIn.join();
        ::close(master);
        QCOMPARE(r.status, 200);
        const Run shown = cli({"transfere", "--mostrar", "--endereco", "1", "--texto", text});
        const QString expected = shown.out.section('\n', 1, 1);
        QCOMPARE(QString::fromLatin1(received.toHex(' ').toUpper()), expected);
    }

    void manyClientsShareOneLine()
    {
        login();
        // Three letreiro-cli through the relay, then thirty web clients at
        // once: every frame whole, every answer to its own client.
        QList<QProcess *> clis;
        for (int i = 0; i < 3; ++i) {
            auto *p = new QProcess(this);
            p->start(LETREIRO_CLI, {"transfere", "--porta", m_relay, "--endereco", "2", "--texto",
                                    QString("cli %1").arg(i)});
            clis.append(p);
        }
        QTest::qWait(500);
        QList<QNetworkReply *> replies;
        for (int i = 0; i < 30; ++i) {
            QNetworkRequest req(QUrl(m_url + "/api/paineis/entrada/texto"));
            req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
            req.setRawHeader("Cookie", m_cookie.toUtf8());
            replies.append(m_net.post(req, QString(R"({"texto":"web %1"})").arg(i).toUtf8()));
        }
        for (QNetworkReply *r : replies) {
            if (!r->isFinished()) QSignalSpy(r, &QNetworkReply::finished).wait(60000);
            const QJsonObject o = QJsonDocument::fromJson(r->readAll()).object();
            QVERIFY2(o.value("resultado").toString() == "Transmissão bem sucedida.",
                     qPrintable(r->errorString()));
        }
        for (QProcess *p : clis) {
            if (p->state() != QProcess::NotRunning) QVERIFY(p->waitForFinished(30000));
            QCOMPARE(QString::fromUtf8(p->readAllStandardOutput()),
                     QString("Transmissão bem sucedida.\n"));
        }
        QStringList frames;
        for (int i = 0; i < 33; ++i)
            frames.append(m_panel->nextFrame());
        for (int i = 0; i < 30; ++i)
            QVERIFY2(frames.count(QString("endereço 1, verificação certa: Lweb %1").arg(i)) == 1,
                     qPrintable(frames.join('\n')));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(frames.count(QString("endereço 2, verificação certa: Lcli %1").arg(i)), 1);
    }

    void siteOnTheBroker()
    {
        cleanup();
        Broker broker(m_dir.filePath("broker"));
        m_extraConfig =
            QString("[mqtt]\nservidor = 127.0.0.1:%1\nsitio = loja\ndescoberta = sim\n\n"
                    "[agenda relogio]\nquando = 03:00\ncomando = hora\n")
                .arg(broker.port());
        init();
        MqttPeer peer(broker.port(), {"letreiro/#", "homeassistant/#"});
        QTRY_VERIFY(peer.subscribed());
        QTRY_VERIFY(peer.on("letreiro/loja/estado").contains("online"));
        // One config per command of each panel, each once.
        QTRY_COMPARE(peer.answers("homeassistant/button/letreiro_loja_caixa_").value({}).size(), 5);

        // A text as `transfere --texto` sends it; a command to every panel.
        const QString text = "Olá <Pisca______>ação 25°C";
        peer.publish("letreiro/loja/entrada/texto", text.toUtf8());
        const QString viaMqtt = m_panel->nextFrame();
        QCOMPARE(cli({"transfere", "--porta", m_relay, "--endereco", "1", "--texto", text}).status,
                 0);
        QCOMPARE(m_panel->nextFrame(), viaMqtt);
        peer.publish("letreiro/loja/todos/comando", "para");
        QCOMPARE(
            QStringList({m_panel->nextFrame(), m_panel->nextFrame()}),
            QStringList({"endereço 1, verificação certa: P", "endereço 2, verificação certa: P"}));
        QTRY_VERIFY(peer.on("letreiro/loja/caixa/estado").size() == 1);
        const QJsonObject state =
            QJsonDocument::fromJson(peer.on("letreiro/loja/entrada/estado").last()).object();
        QCOMPARE(state.value("texto").toString(), text);
        QVERIFY(state.value("ok").toBool() && state.contains("quando") &&
                state.contains("resultado"));

        // The agenda: the configuration's entry is fixed; one of the API's
        // runs at the next minute, into the history and onto the broker.
        login();
        QCOMPARE(
            call("GET", "/api/agenda").json().toArray().at(0).toObject().value("fixa").toBool(),
            true);
        QCOMPARE(
            call("PUT", "/api/agenda", R"([{"nome":"relogio","quando":"04:00","comando":"data"}])")
                .status,
            400);
        QCOMPARE(call("PUT", "/api/agenda",
                      R"([{"nome":"x","quando":"04:00","paineis":"porta","texto":"a"}])")
                     .status,
                 400);
        QCOMPARE(
            call("PUT", "/api/agenda", "[{\"nome\":\"a;b]\",\"quando\":\"04:00\",\"texto\":\"a\"}]")
                .status,
            400);
        const QDateTime at =
            QDateTime::currentDateTime().addSecs(QTime::currentTime().second() > 50 ? 120 : 60);
        const QByteArray entry =
            QString(
                R"([{"nome":"promo","quando":"%1","paineis":"caixa","texto":"Promoção; hoje"}])")
                .arg(at.toString("HH:mm"))
                .toUtf8();
        QCOMPARE(call("PUT", "/api/agenda", entry).status, 200);
        QVERIFY(contents(m_dir.filePath("agenda.ini")).contains("[agenda promo]"));
        QTRY_VERIFY_WITH_TIMEOUT(m_panel->process().canReadLine(), 130000);
        QCOMPARE(m_panel->nextFrame(), QString("endereço 2, verificação certa: LPromoção; hoje"));
        QTRY_COMPARE(QJsonDocument::fromJson(peer.on("letreiro/loja/caixa/estado").last())
                         .object()
                         .value("texto")
                         .toString(),
                     QString("Promoção; hoje"));
        QCOMPARE(call("GET", "/api/historico")
                     .json()
                     .toArray()
                     .last()
                     .toObject()
                     .value("quem")
                     .toString(),
                 QString("agenda promo"));

        // Killed without a word while texts wait for the line: the last
        // will; what was waiting, and what is published meanwhile, reaches
        // the panel once the service is back (the one on the wire perhaps twice).
        for (int i = 0; i < 4; ++i)
            peer.publish("letreiro/loja/caixa/texto", QString("fila %1").arg(i).toUtf8());
        QCOMPARE(m_panel->nextFrame(), QString("endereço 2, verificação certa: Lfila 0"));
        m_server.kill();
        m_server.waitForFinished();
        QTRY_VERIFY(peer.on("letreiro/loja/estado").endsWith("offline"));
        peer.publish("letreiro/loja/caixa/texto", "fora 1");
        peer.publish("letreiro/loja/caixa/texto", "fora 2");
        startServer(m_panel->device);
        QStringList after;
        while (!after.contains("Lfora 2") && after.size() < 10)
            after.append(m_panel->nextFrame().section(": ", 1));
        QVERIFY2(after.mid(after.size() - 3) == QStringList({"Lfila 3", "Lfora 1", "Lfora 2"}) &&
                     after.contains("Lfila 1") && after.contains("Lfila 2") && after.size() <= 6,
                 qPrintable(after.join(" | ")));
        QTRY_VERIFY(peer.on("letreiro/loja/estado").endsWith("online"));

        // The broker goes away and comes back: the service finds it again.
        broker.restart();
        QTRY_VERIFY_WITH_TIMEOUT(peer.subscribed(), 10000);
        peer.publish("letreiro/loja/entrada/texto", "de volta");
        QTRY_VERIFY_WITH_TIMEOUT(m_panel->process().canReadLine(), 40000);
        QCOMPARE(m_panel->nextFrame(), QString("endereço 1, verificação certa: Lde volta"));
        QVERIFY(!m_panel->process().waitForReadyRead(1000)); // nothing twice
        cleanup();
        m_extraConfig.clear();
    }

    // A chain's broker: TLS against its own CA and a password per site.
    void aBrokerWithTlsAndPasswords()
    {
        cleanup();
        const QString dir = m_dir.filePath("tls");
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
        m_extraConfig = QString("[mqtt]\nservidor = 127.0.0.1:%1\nsitio = loja\nusuario = loja\n"
                                "senha = segredo da loja\ntls_ca = tls/ca.crt\n")
                            .arg(broker.port());
        init();
        const QString ca = dir + "/ca.crt";
        MqttPeer stranger(broker.port(), {"letreiro/#"}, {}, {ca, "escritorio", "errada"});
        MqttPeer office(broker.port(), {"letreiro/#"}, {}, {ca, "escritorio", "outra"});
        QTRY_VERIFY(office.subscribed());
        QTRY_VERIFY(office.on("letreiro/loja/estado").contains("online"));
        office.publish("letreiro/loja/entrada/texto", "Portão aberto");
        QCOMPARE(m_panel->nextFrame(),
                 QString("endereço 1, verificação certa: LPort\u00e3o aberto"));
        QVERIFY(!stranger.subscribed() && stranger.messages().isEmpty());
        cleanup();
        m_extraConfig.clear();
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
