// letreiro-servidor over real sockets, attacked as a page in a browser, a
// guesser and a slow client would: each bad request gets a clear refusal,
// and nothing of it reaches a panel or the files. And what the page relies
// on: its files under a strict policy, the warnings on what a panel will
// receive (and "estrito" refusing them), one send per Idempotency-Key, the
// preview equal to what goes on the wire, and the effects per panel type.
#include "rawhttp.h"
#include "serverprocess.h"

#include <QRegularExpression>

#include <csignal>
#include <memory>
#include <vector>

// The text the emulator printed for the next frame to `address`.
static QString received(Emulator &panel, int address)
{
    const QString line = panel.nextFrame();
    const QString head = QStringLiteral("endereço %1, verificação certa: L").arg(address);
    return line.startsWith(head) ? line.mid(head.size()) : "(" + line + ")";
}

const QString kEntradaTexto = "/api/paineis/entrada/texto";

class TestSecurity : public QObject
{
    Q_OBJECT
private:
    ServerProcess s;
    quint16 m_port = 0;

    void start(const QString &serverKeys, const QString &extraConfig = {})
    {
        s.serverKeys = serverKeys;
        s.extraConfig = extraConfig;
        s.users = {{"ana", "segredo"}, {"bia", "outro"}};
        s.keepLog = true;
        s.startWithPanel();
        m_port = s.port();
    }
    // The page's tests: a third panel (vitrine, of type 2) on the line.
    void startPage(bool login = true)
    {
        start({}, "[painel vitrine]\nlinha = sala\nendereco = 3\ntipo = 2\n");
        if (login) s.login();
    }

    // One request on a connection of its own; the whole answer.
    QByteArray ask(const QByteArray &method, const QByteArray &path, const QByteArray &headers,
                   const QByteArray &body = {})
    {
        RawClient c(m_port);
        c.send(method + ' ' + path + " HTTP/1.1\r\n" + headers +
               "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        return c.response(30000);
    }
    QByteArray json(const QByteArray &extra = {})
    {
        return "Host: 127.0.0.1\r\nContent-Type: application/json\r\n" + extra;
    }
    QByteArray login(const QByteArray &user, const QByteArray &password,
                     const QByteArray &extra = {})
    {
        return ask("POST", "/api/entrar", json(extra),
                   "{\"usuario\":\"" + user + "\",\"senha\":\"" + password + "\"}");
    }
    static QByteArray from(const QByteArray &a) { return "X-Forwarded-For: " + a + "\r\n"; }
    static QByteArray cookieOf(const QByteArray &answer)
    {
        const qsizetype at = answer.indexOf("Set-Cookie: ");
        return at < 0 ? QByteArray() : answer.mid(at + 12).split(';').first();
    }
    void nothingReachedThePanel() { QVERIFY(!s.panel->process().waitForReadyRead(300)); }

private Q_SLOTS:
    void cleanup() { s.stop(); }

    void writesOnlyFromOurOwnOrigin()
    {
        start("nomes = painel.loja.example");
        const QByteArray cookie = cookieOf(login("ana", "segredo"));
        QVERIFY(!cookie.isEmpty());
        const QByteArray text = R"({"texto":"invasor"})";
        const QByteArray path = kEntradaTexto.toUtf8();
        const QByteArray withCookie = "Cookie: " + cookie + "\r\n";
        const auto status = [&](const QByteArray &headers) {
            return RawClient::status(ask("POST", path, headers, text));
        };
        // Each rule of the guard is tst_serverguards'; here, on the wire: two
        // Host lines, and another origin refused in words.
        QCOMPARE(status(json("Host: evil.example\r\n" + withCookie)), 400);
        const QByteArray refused =
            ask("POST", path, json("Origin: http://evil.example\r\n" + withCookie), text);
        QVERIFY2(RawClient::status(refused) == 403 &&
                     refused.contains(R"({"erro":"pedido de outra origem"})"),
                 refused.constData());
        nothingReachedThePanel();
        // Our own page, by its name, and a script with a token in any type.
        const QByteArray own = "Host: painel.loja.example:" + QByteArray::number(m_port) + "\r\n";
        QCOMPARE(
            status(own + "Content-Type: application/json\r\nOrigin: http://painel.loja.example:" +
                   QByteArray::number(m_port) + "\r\nSec-Fetch-Site: same-origin\r\n" + withCookie),
            200);
        QCOMPARE(s.panel->nextFrame(), QString("endereço 1, verificação certa: Linvasor"));
        QProcess token;
        token.start(LETREIRO_SERVIDOR,
                    {"--config", s.dir.filePath("letreiro.ini"), "--novo-token", "placar"});
        QVERIFY(token.waitForFinished(20000));
        const QByteArray t = token.readAllStandardOutput().trimmed();
        // Stored only hashed, as the passwords are.
        const QByteArray users = contents(s.dir.filePath("usuarios.json"));
        QVERIFY(!users.contains(t) && !users.contains("segredo"));
        const QByteArray bearer = "Authorization: Bearer " + t + "\r\n";
        // The running service takes the new token without a restart.
        QTRY_COMPARE_WITH_TIMEOUT(
            status("Host: 127.0.0.1\r\nContent-Type: text/plain\r\n" + bearer), 200, 5000);
        QCOMPARE(status(json("Authorization: Bearer x" + t + "\r\n")), 401);
        QCOMPARE(status(json(bearer.toLower())), 200); // the scheme's name in any case
    }

    void guessingIsLimitedPerAccountAndLogged()
    {
        start("proxies = 127.0.0.1");
        // Ten wrong passwords for ana from ten addresses behind the proxy.
        for (int i = 0; i < 10; ++i) {
            const QByteArray address = "10.0.0." + QByteArray::number(i);
            QCOMPARE(RawClient::status(login("ana", "errada", from(address))), 401);
        }
        const QByteArray locked = login("ana", "segredo", from("10.0.1.1"));
        QCOMPARE(RawClient::status(locked), 429);
        const int wait = locked.mid(locked.indexOf("Retry-After: ") + 13).split('\r')[0].toInt();
        QVERIFY2(wait > 500 && wait <= 600, locked.constData()); // ten minutes from the first
        // Another account from a guessing address goes on; HTTPS at the
        // proxy makes the cookie Secure.
        const QByteArray bia =
            login("bia", "outro", from("10.0.0.1") + "X-Forwarded-Proto: https\r\n");
        QCOMPARE(RawClient::status(bia), 200);
        QVERIFY(bia.contains("SameSite=Strict; Secure"));
        QVERIFY(!login("bia", "outro").contains("Secure"));
        // Five from one address shut that address alone.
        for (int i = 0; i < 5; ++i)
            login("ninguem", "x", from("10.9.9.9"));
        QCOMPARE(RawClient::status(login("bia", "outro", from("10.9.9.9"))), 429);
        QCOMPARE(RawClient::status(login("bia", "outro", from("10.9.9.8"))), 200);
        // A proxy that adds its own line after the client's: the lines are
        // one list, and its last entry counts, for the address and the scheme.
        const QByteArray protos = "X-Forwarded-Proto: http\r\nX-Forwarded-Proto: https\r\n";
        const QByteArray twoLines =
            login("bia", "outro", from("10.9.9.6") + from("10.9.9.9") + protos);
        QCOMPARE(RawClient::status(twoLines), 429);
        QVERIFY(login("bia", "outro", protos).contains("; Secure"));
        // A name that would forge a line of the log is logged on one.
        login("x\\nletreiro-servidor: forjada", "y", from("10.0.0.5"));
        // Ctrl-C at a terminal stops as cleanly as systemd's SIGTERM.
        ::kill(pid_t(s.server.processId()), SIGINT);
        QVERIFY(s.server.waitForFinished(10000));
        QVERIFY(s.server.exitStatus() == QProcess::NormalExit && s.server.exitCode() == 0);
        const QString log = s.log();
        QVERIFY(log.contains("entrada recusada: usuário \"x\\x0aletreiro-servidor: forjada\""));
        QVERIFY(!log.contains("\nletreiro-servidor: forjada"));
        QVERIFY(log.contains(R"(entrada recusada: usuário "ana" de 10.0.0.7)"));
        QVERIFY(log.contains(R"(entrada recusada: usuário "ninguem" de 10.9.9.9)"));
    }

    // Guesses made at once count as many: each takes its place before its
    // password is checked, so of sixteen the sixth onward are refused.
    void concurrentGuessesCountEach()
    {
        start({});
        std::vector<std::unique_ptr<RawClient>> guesses;
        const QByteArray body = R"({"usuario":"ana","senha":"errada"})";
        for (int i = 0; i < 16; ++i) {
            guesses.push_back(std::make_unique<RawClient>(m_port));
            guesses.back()->send("POST /api/entrar HTTP/1.1\r\n" + json() +
                                 "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                                 body);
        }
        QMap<int, int> statuses;
        for (const auto &g : guesses)
            ++statuses[RawClient::status(g->response(30000))];
        QCOMPARE(statuses, (QMap<int, int>{{401, 5}, {429, 11}}));
    }

    void aNewPasswordEndsTheOldSessions()
    {
        start("cookie_seguro = sim");
        const QByteArray answer = login("ana", "segredo");
        // Secure, so a __Host- cookie: no sibling host can set one of that name.
        QVERIFY(answer.contains("; Secure") && answer.contains("Set-Cookie: __Host-letreiro_sessao="));
        const QByteArray ana = "Host: 127.0.0.1\r\nCookie: " + cookieOf(answer) + "\r\n";
        QCOMPARE(RawClient::status(ask("GET", "/api/paineis", ana)), 200);
        // A second session cookie planted beside it: neither is believed.
        QCOMPARE(RawClient::status(ask("GET", "/api/paineis",
                                       "Host: 127.0.0.1\r\nCookie: letreiro_sessao=" +
                                           QByteArray(64, 'a') + "; " + cookieOf(answer) + "\r\n")),
                 401);
        // Health probes ask with HEAD, without a login: GET's answer, no body.
        for (const QByteArray &path : {QByteArray("/"), QByteArray("/api/saude")}) {
            RawClient c(m_port);
            c.send("HEAD " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
            const QByteArray head = c.response(5000, true);
            QCOMPARE(RawClient::status(head), 200);
            QVERIFY2(head.endsWith("\r\n\r\n") && head.contains("Content-Length: "), head.constData());
        }
        s.setPassword("ana", "nova");
        QTRY_COMPARE_WITH_TIMEOUT(RawClient::status(ask("GET", "/api/paineis", ana)), 401, 5000);
        QCOMPARE(RawClient::status(login("ana", "nova")), 200);
        // Forwarding headers from a peer not among the proxies are named in
        // the log, once; a client without them is no proxy.
        QVERIFY(!s.log().contains("X-Forwarded"));
        login("ana", "nova", from("10.1.1.1"));
        login("ana", "nova", from("10.1.1.2"));
        QTRY_COMPARE(s.log().count("cabeçalhos X-Forwarded-* de 127.0.0.1, que não está em proxies"), 1);
    }

    void slowAndHugeClientsStopNoOne()
    {
        start({});
        const QByteArray cookie = "Cookie: " + cookieOf(login("ana", "segredo")) + "\r\n";
        std::vector<std::unique_ptr<RawClient>> loris;
        for (int i = 0; i < 300; ++i) {
            loris.push_back(std::make_unique<RawClient>(m_port));
            loris.back()->send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Lento: a");
        }
        QCOMPARE(
            RawClient::status(ask("PUT", "/api/agenda", json(cookie), QByteArray(5 << 20, '['))),
            413);
        QCOMPARE(RawClient::status(ask("GET", "/api/paineis", "Host: 127.0.0.1\r\n" + cookie)),
                 200);
        // A valid agenda the disk refuses is the server's failure, not the client's.
        QVERIFY(QDir().mkpath(s.dir.filePath("agenda.ini")));
        QCOMPARE(RawClient::status(ask("PUT", "/api/agenda", json(cookie),
                                       R"([{"nome":"a","quando":"08:00","texto":"oi"}])")),
                 500);
        nothingReachedThePanel();
    }

    void thePageUnderAStrictPolicy()
    {
        startPage(false);
        const Reply page = s.call("GET", "/");
        QCOMPARE(page.status, 200);
        const QByteArray csp = page.header("Content-Security-Policy");
        QVERIFY2(!csp.contains("unsafe") && csp.contains("script-src 'self'") &&
                     csp.contains("frame-ancestors 'none'"),
                 csp.constData());
        // Nothing inline that the policy would block: every script and
        // style is a file of the service, and each is there with its type.
        QVERIFY(!page.body.contains("<style") && !page.body.contains(" style="));
        QVERIFY(!page.body.contains("<script>"));
        static const QRegularExpression file("(?:src|href)=\"/([a-z]+\\.(?:js|css))");
        QStringList files;
        for (auto m = file.globalMatch(page.body); m.hasNext();)
            files << m.next().captured(1);
        for (int i = 0; i < files.size(); ++i) {
            const Reply r = s.call("GET", "/" + files[i]);
            QCOMPARE(r.status, 200);
            QVERIFY(r.header("Content-Type")
                        .startsWith(files[i].endsWith(".css") ? "text/css" : "text/javascript"));
            // The modules the scripts import are served too.
            static const QRegularExpression import("from \"\\./([a-z]+\\.js)\"");
            for (auto m = import.globalMatch(r.body); m.hasNext();)
                if (const QString f = m.next().captured(1); !files.contains(f)) files << f;
        }
        QVERIFY2(files.size() >= 5, qPrintable(files.join(' ')));
        // Every answer, an error too, says how it may be read and framed.
        for (const Reply &r : {page, s.call("GET", "/api/paineis"), s.call("GET", "/nada.js")}) {
            QCOMPARE(r.header("X-Content-Type-Options"), "nosniff");
            QCOMPARE(r.header("Referrer-Policy"), "no-referrer");
            QVERIFY(r.header("Content-Security-Policy").contains("frame-ancestors 'none'"));
        }
        QCOMPARE(s.call("GET", "/nada.js").status, 404);
        QCOMPARE(s.call("GET", "/api/sessao").status, 401);
        s.login();
        QCOMPARE(s.call("GET", "/api/sessao").json().toObject().value("usuario"), "ana");
    }

    void whatChangesIsSaidAndStrictSendsNothing()
    {
        startPage();
        const QByteArray altered = R"({"texto":"Seta → aqui\nfim 25°C"})";
        Reply r = s.call("POST", kEntradaTexto, altered);
        QCOMPARE(r.status, 200);
        const QJsonArray warnings = r.json().toObject().value("avisos").toArray();
        QCOMPARE(warnings.size(), 3);
        QVERIFY(warnings[0].toString().contains("→"));
        QVERIFY(warnings[1].toString().contains("quebras de linha"));
        QVERIFY(warnings[2].toString().contains("<Pausa______>"));
        QCOMPARE(received(*s.panel, 1), "Seta ? aquifim 25<Pausa______>C");

        // Strict: 422 with the same warnings, and the panel hears nothing:
        // the next frame it gets is the text that follows.
        r = s.call("POST", kEntradaTexto, QByteArray(altered).replace("}", R"(,"estrito":true})"));
        QCOMPARE(r.status, 422);
        QCOMPARE(r.json().toObject().value("avisos").toArray(), warnings);
        r = s.call("POST", kEntradaTexto, R"({"texto":"Tudo certo","estrito":true})");
        QCOMPARE(r.status, 200);
        QVERIFY(!r.json().toObject().contains("avisos"));
        QCOMPARE(received(*s.panel, 1), "Tudo certo");
        // A message of the library is checked as a text is.
        QCOMPARE(s.call("PUT", "/api/mensagens/seta.msg", "{\\rtf1 Seta \\u8594?}").status, 200);
        r = s.call("POST", "/api/paineis/entrada/mensagem",
                   R"({"arquivo":"seta.msg","estrito":true})");
        QCOMPARE(r.status, 422);
        // The agenda's texts say it too.
        r = s.call("PUT", "/api/agenda", R"([{"nome":"seta","quando":"08:00","texto":"→"}])");
        QCOMPARE(r.status, 200);
        QVERIFY(r.json().toArray()[0].toObject()["avisos"].toArray()[0].toString().contains("→"));
        // Neither the refused message nor the agenda reached the panel.
        QCOMPARE(s.call("POST", kEntradaTexto, R"({"texto":"Depois"})").status, 200);
        QCOMPARE(received(*s.panel, 1), "Depois");
    }

    void oneKeyOneSend()
    {
        startPage();
        s.headers = {{"Idempotency-Key", "clique-1"}};
        // Two at once, as a double click sends them: one frame, one answer.
        QNetworkReply *const twice[] = {s.send("POST", kEntradaTexto, R"({"texto":"Uma vez"})"),
                                        s.send("POST", kEntradaTexto, R"({"texto":"Uma vez"})")};
        const QByteArray first = ServerProcess::wait(twice[0]).body;
        QVERIFY2(first.contains("\"ok\":true"), first.constData());
        QCOMPARE(ServerProcess::wait(twice[1]).body, first);
        // Later, the same key still answers the first result and sends nothing.
        QCOMPARE(s.call("POST", kEntradaTexto, R"({"texto":"Uma vez"})").body, first);
        // The same key on another route is another request.
        QCOMPARE(s.call("POST", "/api/paineis/caixa/texto", R"({"texto":"Outro"})").status, 200);
        s.headers = {{"Idempotency-Key", "clique-2"}};
        QCOMPARE(s.call("POST", kEntradaTexto, R"({"texto":"Outra vez"})").status, 200);
        QCOMPARE(received(*s.panel, 1), "Uma vez");
        QCOMPARE(received(*s.panel, 2), "Outro");
        QCOMPARE(received(*s.panel, 1), "Outra vez");
        s.headers = {{"Idempotency-Key", QByteArray(300, 'k')}};
        QCOMPARE(s.call("POST", kEntradaTexto, R"({"texto":"x"})").status, 400);
    }

    void thePreviewIsWhatIsSent()
    {
        startPage();
        const QString text = "Promoção → 25°C\nhoje <Pisca______>já " + QString(20, u'x');
        for (const QString &panel : {QStringLiteral("entrada"), QStringLiteral("vitrine")}) {
            const QUrlQuery q({{"texto", text}, {"painel", panel}, {"formato", "json"}});
            const QJsonObject preview =
                s.call("GET", "/api/previa?" + q.toString(QUrl::FullyEncoded)).json().toObject();
            const QJsonObject asked{{"texto", text}, {"painel", panel}};
            QCOMPARE(s.call("POST", "/api/previa", QJsonDocument(asked).toJson()).json().toObject(),
                     preview);
            QCOMPARE(preview.value("avisos").toArray().size(), 3);
            QCOMPARE(preview.value("limite").toInt(), 7500);
            const Reply sent = s.call("POST", "/api/paineis/" + panel + "/texto",
                                      QJsonDocument(QJsonObject{{"texto", text}}).toJson());
            QCOMPARE(sent.json().toObject().value("avisos"), preview.value("avisos"));
            QCOMPARE(received(*s.panel, panel == u"entrada" ? 1 : 3),
                     preview.value("texto").toString());
        }
    }

    // Previews of a big message have threads of their own: the session and
    // a login answer before any of them is drawn, and beyond a few waiting
    // the next preview is refused at once instead of queued.
    void previewsHoldUpNoOne()
    {
        startPage();
        QDir(s.dir.path()).mkpath("mensagens");
        writeFile(s.dir.filePath("mensagens/grande.msg"),
                  "{\\rtf1 " + QByteArray(4 * 1024 * 1024 - 16, 'a') + "}");
        QStringList order; // the answers, as they come
        const auto noted = [&order](QNetworkReply *r, const QString &what) {
            connect(r, &QNetworkReply::finished, r, [&order, r, what] {
                order << what + ' ' +
                             r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toString();
            });
            return r;
        };
        // A client keeps at most six connections to a server: more clients.
        std::vector<std::unique_ptr<QNetworkAccessManager>> clients;
        QList<QNetworkReply *> previews;
        for (int i = 0; i < 12; ++i) {
            if (i % 6 == 0) clients.push_back(std::make_unique<QNetworkAccessManager>());
            QNetworkRequest req(QUrl(s.url + "/api/previa?arquivo=grande.msg&largura=30&ate=600"));
            req.setRawHeader("Cookie", s.cookie.toUtf8());
            previews << noted(clients.back()->get(req), "previa");
        }
        QTRY_VERIFY_WITH_TIMEOUT(order.contains("previa 503"), 30000);
        const auto busy = std::find_if(previews.cbegin(), previews.cend(), [](QNetworkReply *r) {
            return r->isFinished() && r->attribute(QNetworkRequest::HttpStatusCodeAttribute) == 503;
        });
        QCOMPARE((*busy)->rawHeader("Retry-After"), "1");
        QVERIFY((*busy)->readAll().contains("servidor ocupado; tente de novo"));
        const Reply session = ServerProcess::wait(noted(s.send("GET", "/api/sessao"), "sessao"));
        QCOMPARE(session.status, 200);
        const Reply login = ServerProcess::wait(noted(
            s.send("POST", "/api/entrar", R"({"usuario":"ana","senha":"segredo"})"), "entrar"));
        QCOMPARE(login.status, 200);
        QVERIFY2(!order.contains("previa 200"), qPrintable(order.join(", ")));
    }

    void effectsPerPanelTypeInTheDesktopsWords()
    {
        startPage();
        const QJsonArray menus = s.call("GET", "/api/efeitos").json().toArray();
        QStringList names;
        QHash<QString, QJsonArray> types;
        for (const QJsonValue &m : menus) {
            names << m["menu"].toString();
            for (const QJsonValue &e : m["efeitos"].toArray()) {
                QVERIFY(!e["legenda"].toString().contains('&'));
                types.insert(e["legenda"].toString(), e["tipos"].toArray());
            }
        }
        QCOMPARE(names, QStringList({"Prefixos", "Sufixos", "Outros"}));
        QVERIFY(types["Roda Baixo"].contains(2) && !types["Roda Baixo"].contains(0));
        QVERIFY(types["Roda 4"].contains(0) && !types["Roda 4"].contains(2));
        QCOMPARE(types["Pisca"].size(), 9);
        QVERIFY(!types.contains("Apaga Tela")); // no code: the panel plays nothing
    }
};

QTEST_GUILESS_MAIN(TestSecurity)
#include "tst_security.moc"
