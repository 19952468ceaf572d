// The service's guards on their own: which requests the header alone
// condemns, wrong logins counted per address and per account on virtual
// time, the message library against links and odd names, the users file
// read again when another process changes it, and one click one send (the
// cache of Idempotency-Key answers on virtual time).
#include "apianswer.h"
#include "idempotency.h"
#include "loginlimiter.h"
#include "messagelibrary.h"
#include "requestguard.h"
#include "sessions.h"
#include "testfiles.h"
#include "userstore.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

static HttpRequest request(const QByteArray &method, QList<QPair<QByteArray, QByteArray>> headers,
                           const QString &peer = "10.0.0.9")
{
    return {method, "/api/paineis/entrada/texto", std::move(headers), {}, peer};
}

static int refusal(const RequestGuard &g, const HttpRequest &r)
{
    const auto refused = g.refuse(r);
    return refused ? refused->status : 0;
}

class TestServerGuards : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void onlyOurNamesAndOrigin()
    {
        const RequestGuard g({"painel.loja.example"}, {}, false);
        const QPair<QByteArray, QByteArray> json{"content-type", "application/json; charset=utf-8"};
        const QPair<QByteArray, QByteArray> cookie{"cookie", "letreiro_sessao=abc"};
        for (const char *host :
             {"127.0.0.1:8080", "[::1]:80", "localhost", "Painel.Loja.Example.", "192.168.0.7"})
            QCOMPARE(refusal(g, request("GET", {{"host", host}})), 0);
        // DNS rebinding: a name of the attacker's that resolves here.
        for (const char *host : {"evil.example", "", "painel.loja.example.evil", "localhost.evil"})
            QCOMPARE(refusal(g, request("GET", {{"host", host}})), 421);
        const QPair<QByteArray, QByteArray> host{"host", "painel.loja.example:8080"};
        // A plain form's types, or none, for a write with the cookie.
        for (const char *type : {"text/plain", "application/x-www-form-urlencoded",
                                 "multipart/form-data; boundary=x", ""})
            QCOMPARE(refusal(g, request("POST", {host, cookie, {"content-type", type}})), 415);
        const QPair<QByteArray, QByteArray> plain{"content-type", "text/plain"};
        const QPair<QByteArray, QByteArray> evil{"origin", "http://evil.example"};
        using Headers = QList<QPair<QByteArray, QByteArray>>;
        for (const auto &[method, headers, status] : QList<std::tuple<QByteArray, Headers, int>>{
                 {"POST", {host, cookie, json}, 0},
                 {"POST", {host, cookie, json, {"origin", "http://painel.loja.example:8080"},
                           {"sec-fetch-site", "same-origin"}}, 0},
                 {"POST", {host, cookie, json, {"origin", "http://painel.loja.example:9999"}}, 403},
                 {"POST", {host, cookie, json, {"origin", "https://painel.loja.example:8080"}}, 403},
                 {"POST", {host, cookie, json, {"origin", "null"}}, 403},
                 {"PUT", {host, cookie, json, {"sec-fetch-site", "cross-site"}}, 403},
                 {"DELETE", {host, cookie, json, {"sec-fetch-site", "same-site"}}, 403},
                 // Scripts with a token need neither; reads need no type.
                 {"POST", {host, {"authorization", "Bearer t"}, plain, evil}, 0},
                 {"POST", {host, cookie, {"authorization", "Basic YTpi"}, plain}, 415},
                 {"GET", {host, cookie, {"sec-fetch-site", "cross-site"}}, 0}})
            QCOMPARE(refusal(g, request(method, headers)), status);
        QCOMPARE(RequestGuard::bearerToken(request("GET", {{"authorization", "bEARER  t1 "}})), "t1");
        QVERIFY(RequestGuard::bearerToken(request("GET", {{"authorization", "Basic t"}})).isEmpty());
        // The library takes RTF as it is.
        HttpRequest rtf = request("PUT", {host, cookie, {"content-type", "application/rtf"}});
        rtf.target = "/api/mensagens/a.msg";
        QCOMPARE(refusal(g, rtf), 0);
    }

    void proxiesAreBelievedOnlyWhenNamed()
    {
        const RequestGuard none({}, {}, false);
        const RequestGuard proxy({}, {"127.0.0.1", "10.1.0.0/16"}, false);
        QVERIFY(RequestGuard({}, {"10.0.0.300"}, false).invalidProxy() == "10.0.0.300");
        QVERIFY(proxy.invalidProxy().isEmpty());
        const QList<QPair<QByteArray, QByteArray>> forwarded = {
            {"x-forwarded-for", "6.6.6.6, 192.168.5.5"}, {"x-forwarded-proto", "https"}};
        for (const QString &peer : {QString("127.0.0.1"), QString("10.1.2.3")}) {
            QCOMPARE(proxy.clientAddress(request("GET", forwarded, peer)), "192.168.5.5");
            QVERIFY(proxy.secureCookie(request("GET", forwarded, peer)));
            QCOMPARE(proxy.clientAddress(request("GET", {}, peer)), peer);
        }
        QCOMPARE(proxy.clientAddress(request("GET", forwarded, "10.2.0.1")), "10.2.0.1");
        QCOMPARE(none.clientAddress(request("GET", forwarded, "127.0.0.1")), "127.0.0.1");
        QVERIFY(!none.secureCookie(request("GET", forwarded, "127.0.0.1")));
        QVERIFY(!proxy.secureCookie(request("GET", {{"x-forwarded-proto", "http"}}, "127.0.0.1")));
        QVERIFY(RequestGuard({}, {}, true).secureCookie(request("GET", {})));
    }

    void loginsPerAddressAndPerAccount()
    {
        qint64 now = 1000000;
        LoginLimiter l([&] { return now; });
        // Counted when tried, before any password is checked: five at once
        // are five; a right one gives its place back.
        const LoginLimiter::Attempt right = l.attempt("1.1.1.1", "ana");
        l.succeeded(right, "1.1.1.1", "ana");
        for (int i = 0; i < 5; ++i)
            QCOMPARE(l.attempt("1.1.1.1", "ana").retryAfter, 0);
        QCOMPARE(l.attempt("1.1.1.1", "ana").retryAfter, 60);
        QCOMPARE(l.retryAfter("1.1.1.1", "ana"), 60);
        QCOMPARE(l.retryAfter("1.1.1.1", "bia"), 60); // the address, whatever account
        QCOMPARE(l.retryAfter("2.2.2.2", "ana"), 0);
        now += 30000;
        QCOMPARE(l.retryAfter("1.1.1.1", "ana"), 30);
        // Half a second left is a second to wait, never none.
        now += 29500;
        QCOMPARE(l.retryAfter("1.1.1.1", "ana"), 1);
        now += 499;
        QCOMPARE(l.retryAfter("1.1.1.1", "ana"), 1);
        now += 1;
        QCOMPARE(l.retryAfter("1.1.1.1", "ana"), 0);
        // Ten for one account from ten addresses: that account alone, ten minutes.
        for (int i = 0; i < 4; ++i)
            l.attempt(QString("3.3.3.%1").arg(i), "ana");
        QCOMPARE(l.retryAfter("9.9.9.9", "ana"), 0);
        l.attempt("3.3.3.4", "ana");
        QCOMPARE(l.retryAfter("9.9.9.9", "ana"), 540);
        QCOMPARE(l.retryAfter("9.9.9.9", "bia"), 0);
        now += 540000;
        QCOMPARE(l.retryAfter("9.9.9.9", "ana"), 0);
        // Old failures are forgotten, however many names were tried.
        for (int i = 0; i < 1000; ++i)
            l.attempt(QString("4.4.%1.%2").arg(i / 250).arg(i % 250), QString::number(i));
        now += 3600000;
        QCOMPARE(l.retryAfter("4.4.4.4", "1"), 0);
        // Names alike in their first 128 characters are one account; one
        // that differs at the 128th is another.
        const QString name(128, u'k');
        for (int i = 0; i < 10; ++i)
            l.attempt(QString("5.5.5.%1").arg(i), name + QString::number(i));
        QCOMPARE(l.retryAfter("9.9.9.9", name + "z"), 600);
        QCOMPARE(l.retryAfter("9.9.9.9", name.chopped(1) + "z"), 0);
    }

    void theLibraryFollowsNoLink()
    {
        QTemporaryDir dir, outside, linked;
        const QString folder = dir.filePath("mensagens");
        QDir().mkpath(folder);
        writeFile(outside.filePath("senhas.msg"), "{\\rtf1 segredo}");
        QVERIFY(QFile::link(outside.filePath("senhas.msg"), folder + "/atalho.msg"));
        writeFile(folder + "/boa.msg", "{\\rtf1 boa}");
        QCOMPARE(::mkfifo(QFile::encodeName(folder + "/fila.msg").constData(), 0600), 0);
        MessageLibrary lib(folder);
        QCOMPARE(lib.names(), QStringList{"boa.msg"});
        QCOMPARE(*lib.read("boa.msg"), QByteArray("{\\rtf1 boa}"));
        QCOMPARE(apianswer::failure(lib.read("atalho.msg").failure()).status, 403);
        QCOMPARE(apianswer::failure(lib.read("fila.msg").failure()).status, 403);
        QCOMPARE(apianswer::failure(lib.read("nenhuma.msg").failure()).status, 404);
        // A body is one JSON object: not a list, not a damaged object.
        QCOMPARE(apianswer::object(R"({"a":1})")->value("a").toInt(), 1);
        for (const QByteArray &body : {QByteArray("[]"), QByteArray(R"({"a":)"), QByteArray()})
            QVERIFY2(!apianswer::object(body), body.constData());
        QCOMPARE(apianswer::failure(lib.save("atalho.msg", "{\\rtf1 nova}").failure()).status, 403);
        QCOMPARE(contents(outside.filePath("senhas.msg")), QByteArray("{\\rtf1 segredo}"));
        QVERIFY(lib.save("nova.msg", "{\\rtf1 nova}").ok());
        QCOMPARE(*lib.read("nova.msg"), QByteArray("{\\rtf1 nova}"));
        QCOMPARE(lib.message("atalho.msg").failure().kind, Failure::Kind::Forbidden);
        // Names: control and formatting characters (a BOM too), line
        // separators, private use, unassigned, half a surrogate pair, too
        // long, paths.
        for (const QString &bad :
             {QString("a\nb.msg"), QString("a\x1b[2J.msg"), QString("a\u202Eb.msg"),
              u"\uFEFFboa.msg"_s, QString("a\u0085b.msg"), QString("a\u2028b.msg"),
              QString("a\u2029b.msg"), QString("a\uE000b.msg"), QString("a\u0378b.msg"),
              QString("a") + QChar(0xD83D) + "b.msg", QString(252, 'a') + "é.msg",
              QString("../x.msg"), QString(".msg")}) {
            QCOMPARE(apianswer::failure(lib.read(bad).failure()).status, 400);
            QCOMPARE(apianswer::failure(lib.save(bad, "{\\rtf1 x}").failure()).status, 400);
        }
        QVERIFY(lib.save(QString(251, 'a') + ".msg", "{\\rtf1 x}").ok());
        QVERIFY(lib.save("promoção 😀.msg", "{\\rtf1 x}").ok());
        // The folder itself may be a link.
        QVERIFY(QFile::link(folder, linked.filePath("pasta")));
        QVERIFY(MessageLibrary(linked.filePath("pasta")).read("boa.msg").ok());
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::System).size(), 6); // no temporary left
    }

    // Twelve hours on the clock given, to the millisecond; ended sessions
    // are forgotten, and a user's sessions are bounded.
    void sessionsLiveTwelveHours()
    {
        qint64 now = 5000;
        Sessions sessions([&] { return now; });
        const QString ana = sessions.open("ana");
        QCOMPARE(ana.size(), 64);
        now += Sessions::kLifetimeMs - 1;
        QCOMPARE(sessions.user(ana), QString("ana"));
        now += 1;
        QVERIFY(sessions.user(ana).isEmpty());
        sessions.open("bia"); // a login sweeps what has ended
        QCOMPARE(sessions.size(), 1);
        QStringList bia;
        for (int i = 1; i < Sessions::kPerUser; ++i)
            bia.append(sessions.open("bia"));
        QCOMPARE(sessions.size(), Sessions::kPerUser);
        const QString first = bia.first();
        sessions.open("bia");
        QCOMPARE(sessions.size(), Sessions::kPerUser);
        QCOMPARE(sessions.user(first), QString("bia")); // the oldest was the one opened before
        sessions.open("bia");
        QVERIFY(sessions.user(first).isEmpty());
    }

    // A token acts as its user until revoked, past its expiry, or its user's
    // password changes or the user is gone; an older file's token still works.
    void tokensHaveALife()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("usuarios.json");
        UserStore admin(path), service(path);
        QString why;
        QVERIFY(admin.setPassword("ana", "um", &why));
        const QString ana = admin.newToken("ana", &why), ana2 = admin.newToken("ana", &why);
        const QString placar = admin.newToken("placar", &why, "painel-da-quadra");
        const QString old = admin.newToken("ana", &why, "velho",
                                           QDateTime::currentDateTimeUtc().addSecs(-1));
        QVERIFY(service.load(&why));
        QCOMPARE(service.checkToken(ana), QString("ana"));
        QCOMPARE(service.checkToken(placar), QString("placar"));
        QVERIFY(service.checkToken(old).isEmpty()); // past its expiry
        const auto names = [](const UserStore &store) {
            QStringList out;
            for (const UserStore::TokenInfo &t : store.tokens())
                out.append(t.name + (t.alive ? "" : " encerrado") + (t.lastUsed.isValid() ? " usado" : ""));
            return out;
        };
        const QStringList used{"ana usado", "ana-2", "painel-da-quadra usado", "velho encerrado"};
        QCOMPARE(names(service), used);
        QVERIFY(service.usageChanged());
        // What the service kept of their use is read back at its next start.
        UserStore restarted(path);
        QVERIFY(restarted.load(&why));
        restarted.setUsage(service.usageJson());
        QCOMPARE(names(restarted), used);
        QVERIFY(admin.newToken("ana", &why, "ana-2").isEmpty()); // names are unique
        // Revoked by name; a changed password ends ana's, not placar's.
        QVERIFY(admin.revokeToken("ana-2", &why) && !admin.revokeToken("ana-2", &why));
        service.reloadIfChanged();
        QVERIFY(service.checkToken(ana2).isEmpty());
        QVERIFY(admin.setPassword("ana", "dois", &why));
        service.reloadIfChanged();
        QVERIFY(service.checkToken(ana).isEmpty());
        QCOMPARE(service.checkToken(placar), QString("placar"));
        // An older file: a token as a bare user name, under today's password;
        // a password kept as PBKDF2-SHA256 of 32 bytes, its UTF-8, salt and
        // rounds as written then.
        writeFile(path, R"({"usuarios":{"rui":{"sal":"6c657472","iteracoes":1000,"hash":")"
                        "6598ecff7e6a1b4d575bdb4e6b077e0c2ff09d61b1f4d059b8eb9112a55f837a"
                        R"("}},"tokens":{")" +
                            QCryptographicHash::hash("segredo", QCryptographicHash::Sha256).toHex() +
                            R"(":"placar"}})");
        service.reloadIfChanged();
        QCOMPARE(service.checkToken("segredo"), QString("placar"));
        QCOMPARE(service.checkPassword("rui", "senha é"), QString("rui"));
    }

    void aChangedUsersFileEndsSessions()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("usuarios.json");
        UserStore writer(path), service(path);
        QString why;
        writeFile(path, "{" + QByteArray((4 << 20) - 2, ' ') + "}"); // 4 MB: read; a byte more: not
        QVERIFY(service.load(&why));
        writeFile(path, "{" + QByteArray((4 << 20) - 1, ' ') + "}");
        QVERIFY(!service.load(&why));
        QVERIFY(writer.setPassword("ana", "um", &why) && writer.setPassword("bia", "dois", &why));
        QVERIFY(service.load(&why));
        QVERIFY(service.reloadIfChanged().isEmpty());
        Sessions sessions([] { return qint64(0); });
        const QString ana = sessions.open("ana"), bia = sessions.open("bia");
        QVERIFY(writer.setPassword("ana", "outra", &why));
        const QStringList changed = service.reloadIfChanged();
        QCOMPARE(changed, QStringList{"ana"});
        sessions.endUsers(changed);
        QVERIFY(sessions.user(ana).isEmpty());
        QCOMPARE(sessions.user(bia), "bia");
        QCOMPARE(service.checkPassword("ana", "outra"), "ana");
        QVERIFY(service.checkPassword("ana", "um").isEmpty());
        // A token made elsewhere works at once; a broken file changes nothing.
        const QString token = writer.newToken("placar", &why);
        QVERIFY(service.reloadIfChanged().isEmpty());
        QCOMPARE(service.checkToken(token), "placar");
        writeFile(path, "{ quebrado");
        QVERIFY(service.reloadIfChanged().isEmpty());
        QCOMPARE(service.checkPassword("bia", "dois"), "bia");
        QFile::remove(path);
        QStringList gone = service.reloadIfChanged();
        gone.sort();
        QCOMPARE(gone, QStringList({"ana", "bia"}));
    }

    void aRepeatGetsTheFirstAnswerAndDoesNothing()
    {
        qint64 now = 0;
        IdempotencyCache cache([&] { return now; }, 3);
        int sends = 0;
        const auto send = [&](const QString &key) {
            QByteArray got;
            cache.runLater(
                key, [&](IdempotencyCache::Done done) { done({200, QByteArray::number(++sends)}); },
                [&](const IdempotencyCache::Answer &a) { got = a.body; });
            return got;
        };
        QCOMPARE(send("ana /texto k1"), "1");
        now += IdempotencyCache::kLifetimeMs - 1;
        QCOMPARE(send("ana /texto k1"), "1");
        QCOMPARE(send("ana /texto k2"), "2");
        QCOMPARE(send(""), "3"); // no key: every request counts
        QCOMPARE(send(""), "4");
        // Ten minutes on, the key is a new one.
        now += 1;
        QCOMPARE(send("ana /texto k1"), "5");
        // However many keys come, only the newest few are kept.
        for (int i = 0; i < 100; ++i)
            send(QStringLiteral("k%1").arg(i));
        QCOMPARE(cache.size(), 3);
        QCOMPARE(send("k99"), "105");
        QCOMPARE(send("k0"), "106");
    }

    // On the one thread that must not wait: a repeat while the first is at
    // work is answered when the first is, and after, at once.
    void aRepeatLaterIsAnsweredWhenTheFirstIs()
    {
        IdempotencyCache cache([] { return qint64(0); });
        IdempotencyCache::Done finishFirst;
        int sends = 0;
        QList<QByteArray> answers;
        const auto work = [&](IdempotencyCache::Done done) { ++sends, finishFirst = done; };
        const auto collect = [&](const IdempotencyCache::Answer &a) { answers.append(a.body); };
        cache.runLater("k", work, collect);
        cache.runLater("k", work, collect);
        QVERIFY(answers.isEmpty());
        finishFirst({200, "primeiro"});
        QCOMPARE(answers, QList<QByteArray>({"primeiro", "primeiro"}));
        cache.runLater("k", work, collect);
        QCOMPARE(answers.size(), 3);
        QCOMPARE(sends, 1);
    }
};

QTEST_GUILESS_MAIN(TestServerGuards)
#include "tst_serverguards.moc"
