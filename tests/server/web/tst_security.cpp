// letreiro-servidor attacked over real sockets as a page in a browser, a
// guesser and a slow client would: each bad request gets a clear refusal,
// and nothing of it reaches a panel or the files.
#include "rawhttp.h"
#include "serverprocess.h"

#include <QTest>

#include <memory>
#include <vector>

class TestSecurity : public QObject
{
    Q_OBJECT
private:
    ServerProcess s;
    quint16 m_port = 0;

    void start(const QString &serverKeys)
    {
        s.serverKeys = serverKeys;
        s.users = {{"ana", "segredo"}, {"bia", "outro"}};
        s.keepLog = true;
        s.startWithPanel();
        m_port = s.port();
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
        const QByteArray path = "/api/paineis/entrada/texto";
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
        QCOMPARE(status("Host: 127.0.0.1\r\nContent-Type: application/json\r\n" + bearer.toLower()),
                 200); // the scheme's name in any case
    }

    void guessingIsLimitedPerAccountAndLogged()
    {
        start("proxies = 127.0.0.1");
        // Ten wrong passwords for ana from ten addresses behind the proxy.
        for (int i = 0; i < 10; ++i)
            QCOMPARE(
                RawClient::status(login(
                    "ana", "errada", "X-Forwarded-For: 10.0.0." + QByteArray::number(i) + "\r\n")),
                401);
        const QByteArray locked = login("ana", "segredo", "X-Forwarded-For: 10.0.1.1\r\n");
        QCOMPARE(RawClient::status(locked), 429);
        const int wait =
            locked.mid(locked.indexOf("Retry-After: ") + 13).split('\r').first().toInt();
        QVERIFY2(wait > 500 && wait <= 600, locked.constData()); // ten minutes from the first
        // Another account from a guessing address goes on; HTTPS at the
        // proxy makes the cookie Secure.
        const QByteArray bia =
            login("bia", "outro", "X-Forwarded-For: 10.0.0.1\r\nX-Forwarded-Proto: https\r\n");
        QCOMPARE(RawClient::status(bia), 200);
        QVERIFY(bia.contains("SameSite=Strict; Secure"));
        QVERIFY(!login("bia", "outro").contains("Secure"));
        // Five from one address shut that address alone.
        for (int i = 0; i < 5; ++i)
            login("ninguem", "x", "X-Forwarded-For: 10.9.9.9\r\n");
        QCOMPARE(RawClient::status(login("bia", "outro", "X-Forwarded-For: 10.9.9.9\r\n")), 429);
        QCOMPARE(RawClient::status(login("bia", "outro", "X-Forwarded-For: 10.9.9.8\r\n")), 200);
        // A proxy that adds its own line after the client's: the lines are
        // one list, and its last entry counts, for the address and the scheme.
        const QByteArray twoLines = login("bia", "outro",
                                          "X-Forwarded-For: 10.9.9.6\r\nX-Forwarded-For: "
                                          "10.9.9.9\r\nX-Forwarded-Proto: http\r\n"
                                          "X-Forwarded-Proto: https\r\n");
        QCOMPARE(RawClient::status(twoLines), 429);
        QVERIFY(login("bia", "outro", "X-Forwarded-Proto: http\r\nX-Forwarded-Proto: https\r\n")
                    .contains("; Secure"));
        // A name that would forge a line of the log is logged on one.
        login("x\\nletreiro-servidor: forjada", "y", "X-Forwarded-For: 10.0.0.5\r\n");
        s.server.terminate();
        QVERIFY(s.server.waitForFinished(10000));
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
};

QTEST_GUILESS_MAIN(TestSecurity)
#include "tst_security.moc"
