// letreiro-servidor as a process over real sockets: the login and its
// limits, hostile requests, many clients (web and letreiro-cli through the
// relay) sharing one line, and a stop. That its frames are the CLI's is
// tst_mqtt's (one text path for the API, MQTT and the agenda).
#include "serverprocess.h"

class TestServer : public QObject
{
    Q_OBJECT
private:
    ServerProcess s;

private Q_SLOTS:
    void init() { s.startWithPanel(); }
    void cleanup() { s.stop(); }

    void nobodyGetsInWhoDoesNotBelong()
    {
        QCOMPARE(s.call("GET", "/").status, 200); // the page itself, to log in
        for (const char *path : {"/api/paineis", "/api/historico", "/api/mensagens", "/api/previa"})
            QCOMPARE(s.call("GET", path).status, 401);
        Reply r = s.call("POST", "/api/entrar", R"({"usuario":"ana","senha":"segredo"})");
        QCOMPARE(r.status, 200);
        QVERIFY(r.cookie.contains("HttpOnly") && r.cookie.contains("SameSite=Strict"));
        s.cookie = QString::fromUtf8(r.cookie).section(';', 0, 0);
        QCOMPARE(s.call("GET", "/api/paineis").status, 200);
        QCOMPARE(s.call("GET", "/api/estado").json()["mqtt"]["estado"].toString(), "desligado");
        QCOMPARE(s.call("POST", "/api/sair", "{}").status, 200);
        QCOMPARE(s.call("GET", "/api/paineis").status, 401);
    }

    void hostileRequestsStopNothing()
    {
        s.login();
        QCOMPARE(s.call("POST", "/api/paineis/entrada/texto", "{nao é json").status, 400);
        QCOMPARE(s.call("POST", "/api/paineis/entrada/texto", "[1,2]").status, 400);
        for (const char *name :
             {"..%2Fusuarios.json", "%2Fetc%2Fpasswd", ".escondida.msg", "a.txt"})
            QVERIFY(s.call("GET", QString("/api/mensagens/") + name).status >= 400);
        QCOMPARE(s.call("PUT", "/api/mensagens/ruim.msg", "não é RTF").status, 400);
        QCOMPARE(s.call("PUT", "/api/mensagens/promo.msg", "{\\rtf1 Promo}").status, 200);
        // A name is its bytes: a BOM in front names no other file, and what
        // is not UTF-8 or hides text is refused.
        for (const char *name : {"%EF%BB%BFpromo.msg", "a%ffb.msg", "a%E2%80", "a%E2%80%A8b.msg"})
            QCOMPARE(s.call("PUT", QString("/api/mensagens/") + name, "{\\rtf1 Outra}").status,
                     400);
        QCOMPARE(s.call("GET", "/api/mensagens/promo.msg").body, "{\\rtf1 Promo}");
        QCOMPARE(s.call("GET", "/api/mensagens").json().toArray(), QJsonArray{"promo.msg"});
        for (const char *name : {"n\tx", "n\nx", "n\u2028x"}) {
            const QJsonObject entry{{"nome", name}, {"quando", "04:00"}, {"texto", "a"}};
            const Reply r = s.call("PUT", "/api/agenda", QJsonDocument(QJsonArray{entry}).toJson());
            QCOMPARE(r.status, 400);
            QVERIFY(r.json()["erro"].toString().contains("controle"));
        }
        QCOMPARE(s.call("GET", "/api/previa?texto=x&largura=7").status, 400);
        // A message is named, never reached by a path, though the file is there.
        writeFile(s.dir.filePath("segredo.msg"), "{\\rtf1 Segredo}");
        for (const char *name : {"..%2Fsegredo.msg", "mensagens%2F..%2F..%2Fsegredo.msg"})
            QCOMPARE(s.call("GET", QString("/api/previa?largura=12&arquivo=") + name).status, 400);
        // Beyond the agenda file's bounds (an entry, the whole, in bytes): 413 and why.
        const QString longText(40 * 1024, u'é');
        const Reply entry = s.call(
            "PUT", "/api/agenda",
            QString(R"([{"nome":"longa","quando":"04:00","texto":"%1"}])").arg(longText).toUtf8());
        QCOMPARE(entry.status, 413);
        QCOMPARE(entry.json()["erro"].toString(),
                 QString("a entrada longa da agenda é grande demais (mais de 64 KB)"));
        QJsonArray many;
        for (int i = 0; i < 20; ++i)
            many.append(QJsonObject{{"nome", QString("e%1").arg(i)}, {"quando", "04:00"},
                                    {"texto", QString(60000, u'x')}});
        const Reply whole = s.call("PUT", "/api/agenda", QJsonDocument(many).toJson());
        QCOMPARE(whole.status, 413);
        QCOMPARE(whole.json()["erro"].toString(), "a agenda é grande demais (mais de 1 MB)");
        QCOMPARE(s.call("GET", "/api/previa?texto=x&largura=12&ate=nan").status, 400);
        // Still serving.
        const Reply sent =
            s.call("POST", "/api/paineis/caixa/mensagem", R"({"arquivo":"promo.msg"})");
        QCOMPARE(sent.json()["resultado"].toString(), QString("enviado"));
        QCOMPARE(s.panel->nextFrame(), QString("endereço 2, verificação certa: LPromo"));
        const Reply svg =
            s.call("GET", "/api/previa?texto=Ol%C3%A1%20%3CPisca______%3E&largura=12&ate=20");
        QCOMPARE(svg.status, 200);
        QVERIFY(svg.body.startsWith("<?xml") && svg.body.contains("data-periodo"));
        // A space written as "+", as forms and URLSearchParams write it, is a space.
        QCOMPARE(s.call("GET", "/api/previa?texto=a+b%2B&formato=json").json().toObject()["texto"],
                 QJsonValue("a b+"));
        const QJsonArray panels = s.call("GET", "/api/paineis").json().toArray();
        QCOMPARE(panels[1].toObject().value("ultimo").toObject().value("ok").toBool(), true);
        const QJsonArray history = s.call("GET", "/api/historico").json().toArray();
        QCOMPARE(history.last().toObject().value("quem").toString(), QString("ana"));
    }

    // Three letreiro-cli through the relay and thirty web texts for one
    // panel at once: every frame whole, every answer to its own client; a
    // text still waiting gives way to a newer one for the same panel.
    void manyClientsShareOneLine()
    {
        s.login();
        QList<QProcess *> clis;
        for (int i = 0; i < 3; ++i) {
            auto *p = new QProcess(this);
            p->start(LETREIRO_CLI, {"transfere", "--porta", s.relay, "--endereco", "2", "--texto",
                                    QString("cli %1").arg(i)});
            clis.append(p);
        }
        QList<QNetworkReply *> replies;
        for (int i = 0; i < 30; ++i)
            replies.append(s.send("POST", "/api/paineis/entrada/texto",
                                  QString(R"({"texto":"web %1"})").arg(i).toUtf8()));
        QStringList expected;
        int replaced = 0;
        for (int i = 0; i < replies.size(); ++i) {
            const Reply r = ServerProcess::wait(replies[i], 60000);
            const QString outcome = r.json().toObject().value("resultado").toString();
            QCOMPARE(r.status, 200);
            if (outcome == "substituído")
                ++replaced;
            else if (outcome == "enviado")
                expected.append(QString("endereço 1, verificação certa: Lweb %1").arg(i));
            else
                QFAIL(qPrintable(outcome));
        }
        QVERIFY(replaced > 0);
        for (QProcess *p : clis) {
            if (p->state() != QProcess::NotRunning) QVERIFY(p->waitForFinished(30000));
            QCOMPARE(QString::fromUtf8(p->readAllStandardOutput()), "Transmissão bem sucedida.\n");
            expected.append(QString("endereço 2, verificação certa: Lcli %1").arg(clis.indexOf(p)));
        }
        QStringList frames;
        while (frames.size() < expected.size())
            frames.append(s.panel->nextFrame());
        expected.sort();
        frames.sort();
        QCOMPARE(frames, expected);
    }

    // SIGTERM with requests waiting: they answer 503 at once, the frame on
    // the wire ends whole and its request hears the panel's own answer, the
    // service is gone.
    void aStopStops()
    {
        QCOMPARE(s.call("GET", "/api/saude").status, 200); // no login
        s.login();
        const QJsonObject state = s.call("GET", "/api/estado").json().toObject();
        QCOMPARE(state.value("linhas")[0].toObject().value("nome").toString(), QString("sala"));
        QVERIFY(state.value("avisos").toArray().isEmpty() && state.contains("versao"));
        const QJsonArray commands = s.call("GET", "/api/comandos").json().toArray();
        QCOMPARE(commands.size(), 5);
        QCOMPARE(commands[3].toObject().value("nome").toString(), QString("hora"));
        QVERIFY(commands[3].toObject().value("linha_toda").toBool());
        QList<QNetworkReply *> replies;
        // As many as the client keeps connections to one server at once.
        for (int i = 0; i < 6; ++i)
            replies.append(s.send("POST", "/api/paineis/caixa/comando", R"({"comando":"para"})"));
        QTRY_VERIFY_WITH_TIMEOUT(s.panel->process().canReadLine(), 10000); // the requests go out
        QCOMPARE(s.panel->nextFrame(), QString("endereço 2, verificação certa: P"));
        s.server.terminate();
        int stopped = 0;
        for (QNetworkReply *r : replies) {
            const Reply reply = ServerProcess::wait(r);
            if (reply.status == 200) {
                QCOMPARE(reply.json().toObject().value("resultado").toString(), QString("enviado"));
                continue;
            }
            QCOMPARE(reply.status, 503);
            QCOMPARE(reply.json()["motivo"].toString(), QString("o serviço está parando"));
            ++stopped;
        }
        QVERIFY(stopped > 0);
        QVERIFY(s.server.waitForFinished(5000));
        QCOMPARE(s.server.exitCode(), 0);
        // Those that ran, each frame whole.
        for (int ran = 1; ran < replies.size() - stopped; ++ran)
            QCOMPARE(s.panel->nextFrame(), QString("endereço 2, verificação certa: P"));
    }

    // Help asked for is no mistake; a call without its configuration is.
    void itsCommandLine()
    {
        for (const auto &[args, status, usage] :
             {std::tuple{QStringList{"--ajuda"}, 0, true}, {QStringList{"-h"}, 0, true},
              {QStringList{}, 2, true}, {QStringList{"--xyz"}, 2, false}}) {
            QProcess p;
            p.start(LETREIRO_SERVIDOR, args);
            QVERIFY(p.waitForFinished(10000));
            QCOMPARE(p.exitCode(), status);
            QCOMPARE(p.readAllStandardOutput().startsWith("Uso: letreiro-servidor"), usage);
        }
        // An MQTT journal that cannot be written stops the start, said.
        QTemporaryDir dir;
        writeFile(dir.filePath("arquivo"), {});
        writeFile(dir.filePath("l.ini"), "[servidor]\nescuta = 127.0.0.1:0\nhistorico = " +
                                             dir.filePath("arquivo/h.json").toUtf8() +
                                             "\n[mqtt]\nservidor = 127.0.0.1:1\nsitio = s\n");
        QProcess p;
        p.start(LETREIRO_SERVIDOR, {"--config", dir.filePath("l.ini")});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("diário de mensagens"));
        // An access given again replaces the one before, never adds to it.
        writeFile(dir.filePath("a.ini"), "[servidor]\nescuta = 127.0.0.1:0\n");
        const auto run = [&](const QStringList &args, const QByteArray &input = {}) {
            QProcess r;
            r.start(LETREIRO_SERVIDOR, QStringList{"--config", dir.filePath("a.ini")} + args);
            r.write(input);
            r.closeWriteChannel();
            return r.waitForFinished(10000) ? r.readAllStandardOutput().trimmed() : QByteArray();
        };
        QCOMPARE(run({"--usuario", "ana"}, "segredo123\nsegredo123\n"), "senha de ana gravada");
        for (const auto &[sites, said] : {std::pair{"loja1,loja2", "ana: loja1, loja2"},
                                          {"loja3", "ana: loja3"}, {"todos", "ana: todos os sítios"}})
            QCOMPARE(run({"--acesso", "ana", "--sitios", sites}), QByteArray(said));
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
