// The HTTP engine over real sockets, with clients that behave as attackers
// do: slow headers and bodies, floods of fields, compressed bodies, many
// connections from one address, answers that take their time.
#include "httpengine.h"
#include "openfiles.h"
#include "rawhttp.h"

#include <QTest>

#include <sys/resource.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

static QByteArray get(const QByteArray &path, const QByteArray &extra = {})
{
    return "GET " + path + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n";
}

static QByteArray post(const QByteArray &path, qint64 length, const QByteArray &extra = {})
{
    return "POST " + path + " HTTP/1.1\r\nHost: x\r\nContent-Length: " +
           QByteArray::number(length) + "\r\n" + extra + "\r\n";
}

class TestHttpEngine : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<HttpEngine> m_engine;
    quint16 m_port = 0;
    std::atomic<int> m_handled{0};
    std::mutex m_mutex;
    std::vector<HttpEngine::Reply> m_waiting; // answers held back, as a slow exchange does

    void start(HttpEngine::Limits limits = {}, HttpEngine::HeaderCheck check = {})
    {
        m_engine = std::make_unique<HttpEngine>(
            limits,
            [this](HttpRequest req, HttpEngine::Reply reply) {
                ++m_handled;
                if (req.target == "/larga") return; // the reply dropped unanswered
                if (req.target == "/espera") {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_waiting.push_back(std::move(reply));
                    return;
                }
                HttpResponse r;
                r.body = req.target == "/grande"
                             ? QByteArray(32 << 20, 'x') // more than the sockets' buffers hold
                             : req.method + ' ' + req.target + ' ' + req.body + ' ' + req.header("x-eco");
                r.setHeader("X-Content-Type-Options", "nosniff");
                reply(r);
            },
            std::move(check));
        QString why;
        m_port = m_engine->listen("127.0.0.1", 0, &why);
        QVERIFY2(m_port != 0, qPrintable(why));
    }

    int waiting()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(m_waiting.size());
    }

private Q_SLOTS:
    void init() { m_handled = 0; }
    void cleanup()
    {
        m_engine.reset();
        m_waiting.clear();
    }

    void answersKeepAliveAndPipelined()
    {
        start();
        RawClient c(m_port);
        QVERIFY(c.send(get("/um", "X-Eco: a\r\n")));
        QByteArray a = c.response();
        QCOMPARE(RawClient::status(a), 200);
        QVERIFY(a.endsWith("GET /um  a"));
        QVERIFY(a.contains("X-Content-Type-Options: nosniff"));
        // Two requests in one write, then a body: answered in order on the
        // same connection.
        QVERIFY(c.send(get("/dois") + post("/tres", 5) + "corpo"));
        a = c.response();
        QVERIFY(a.endsWith("GET /dois  "));
        a = c.response();
        QVERIFY(a.endsWith("POST /tres corpo "));
        // HEAD: GET's answer and length, no body; the connection goes on.
        QVERIFY(c.send("HEAD /h HTTP/1.1\r\nHost: x\r\n\r\n" + get("/depois")));
        a = c.response(5000, true);
        QVERIFY2(a.startsWith("HTTP/1.1 200") && a.contains("Content-Length: 8\r\n") &&
                     a.endsWith("\r\n\r\n"),
                 a.constData());
        QVERIFY(c.response().endsWith("GET /depois  "));
        // A client that closes its sending half still gets its answer.
        RawClient half(m_port);
        QVERIFY(half.send(get("/meio")));
        ::shutdown(half.fd, SHUT_WR);
        QCOMPARE(RawClient::status(half.response()), 200);
        QVERIFY(half.closedWithin(5000));
        // Expect: 100-continue is answered before the body is sent.
        RawClient curl(m_port);
        QVERIFY(curl.send(post("/c", 3, "Expect: 100-continue\r\n")));
        QVERIFY(curl.response().startsWith("HTTP/1.1 100 Continue"));
        QVERIFY(curl.send("abc"));
        QVERIFY(curl.response().contains("POST /c abc"));
        // Nothing to continue without a body: the answer comes at once.
        RawClient bare(m_port);
        QVERIFY(bare.send(get("/e", "Expect: 100-continue\r\n")));
        QVERIFY(bare.response().startsWith("HTTP/1.1 200"));
        // Each request reached the server once.
        QCOMPARE(m_handled.load(), 8);
    }

    void aSlowAnswerHoldsNoOne()
    {
        HttpEngine::Limits limits;
        limits.headerMs = 60000; // the kept-alive connections stay while this runs
        start(limits);
        // Fifty requests wait for their answers at once (more than any pool
        // of threads would hold) and a fifty-first is answered meanwhile.
        std::vector<std::unique_ptr<RawClient>> slow;
        for (int i = 0; i < 50; ++i) {
            slow.push_back(std::make_unique<RawClient>(m_port));
            QVERIFY(slow.back()->send(get("/espera")));
        }
        QTRY_COMPARE(waiting(), 50);
        RawClient other(m_port);
        QVERIFY(other.send(get("/agora")));
        QCOMPARE(RawClient::status(other.response()), 200);
        // Answered from another thread, in any order.
        std::thread([this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (auto &r : m_waiting) {
                r(HttpResponse{201, {}, {}});
                r(HttpResponse{201, {}, {}}); // a second answer is ignored
            }
        }).join();
        for (auto &c : slow)
            QCOMPARE(RawClient::status(c->response()), 201);
        // A reply dropped without an answer says so, not silence.
        RawClient lost(m_port);
        QVERIFY(lost.send(get("/larga")));
        QCOMPARE(RawClient::status(lost.response()), 500);
        // A client gone before its answer: the answer is dropped, nothing breaks.
        {
            RawClient gone(m_port);
            QVERIFY(gone.send(get("/espera")));
            QTRY_COMPARE(waiting(), 51);
        }
        QCOMPARE(m_engine->connectionCount(), 53);
        m_waiting.back()(HttpResponse{});
        QTRY_COMPARE(m_engine->connectionCount(), 52);
    }

    void deadlinesAreAbsolute()
    {
        HttpEngine::Limits limits;
        limits.headerMs = 400;
        limits.bodyMs = 400;
        start(limits);
        // A byte every 50 ms keeps any idle timer from firing; the deadline
        // closes the connection all the same, before the bytes run out.
        const auto closedWhileTrickling = [](RawClient &c, const QByteArray &bytes) {
            for (const char b : bytes)
                if (c.send(QByteArray(1, b)); c.closedWithin(50)) return true;
            return false;
        };
        RawClient loris(m_port);
        QVERIFY(closedWhileTrickling(loris, get("/lento").chopped(2)));
        // The same with a body that trickles, and a connection idle after its answer.
        RawClient body(m_port);
        QVERIFY(body.send(post("/corpo", 1000)));
        QVERIFY(closedWhileTrickling(body, QByteArray(100, 'x')));
        RawClient idle(m_port);
        QVERIFY(idle.send(get("/uma")));
        QCOMPARE(RawClient::status(idle.response()), 200);
        QVERIFY(idle.closedWithin(5000));
        QCOMPARE(m_handled.load(), 1);
    }

    // An answer the client does not take has a deadline of its own,
    // however long the request's were.
    void anAnswerNotTakenIsCutAtItsDeadline()
    {
        HttpEngine::Limits limits;
        limits.writeMs = 300;
        start(limits);
        RawClient c(m_port);
        QVERIFY(c.send(get("/grande")));
        QTest::qWait(1500);
        QVERIFY(c.response(30000).size() < (32 << 20));
    }

    void boundsRefuseBeforeTheBody()
    {
        HttpEngine::Limits limits;
        limits.maxBody = 1000;
        limits.maxBodiesInFlight = 1500;
        start(limits, [](const HttpRequest &r) -> std::optional<HttpResponse> {
            if (r.header("authorization") != "sim") return HttpResponse{401, {}, "entre"};
            return std::nullopt;
        });
        const QByteArray ok = "Authorization: sim\r\n";
        const auto refused = [&](const QByteArray &request) {
            RawClient c(m_port);
            c.send(request);
            const QByteArray a = c.response();
            return QPair<int, bool>(RawClient::status(a), c.closedWithin(5000));
        };
        // The header's bounds: its fields' bytes, blank line included, pass
        // at the bound (Beast counts from where each read's parse starts, so
        // a few bytes beyond may pass too); its fields, Host, Authorization
        // and Connection among them, at their exact edge.
        const QByteArray closing = ok + "Connection: close\r\n";
        const auto sized = [&](qsizetype bytes) {
            const qsizetype bare = get("/", closing + "X-Grande: \r\n").size() -
                                   QByteArray("GET / HTTP/1.1\r\n").size();
            return get("/", closing + "X-Grande: " + QByteArray(bytes - bare, 'a') + "\r\n");
        };
        const auto fields = [&](int n) {
            QByteArray few; // few bytes, many fields
            for (int i = 3; i < n; ++i)
                few += "A" + QByteArray::number(i) + ":\r\n";
            return get("/", closing + few);
        };
        constexpr int header = HttpEngine::Limits{}.maxHeaderBytes;
        constexpr int count = HttpEngine::Limits{}.maxHeaderFields;
        const QByteArray te = "POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: ";
        const QByteArray smuggled = ok + "\r\n" + get("/contrabando");
        for (const auto &[request, status] : QList<QPair<QByteArray, int>>{
                 {sized(header), 200}, {sized(header + 4000), 431},
                 {fields(count), 200}, {fields(count + 1), 431},
                 // The bodies are announced, never sent: each refusal comes first.
                 {post("/", 1 << 20, ok + "Content-Encoding: br\r\n"), 415},
                 // A body as it is, said so or said with nothing, is no compressed one.
                 {post("/", 2, closing + "Content-Encoding: identity\r\n") + "{}", 200},
                 {post("/", 2, closing + "Content-Encoding: \r\n") + "{}", 200},
                 {post("/", 1001, ok), 413},
                 {post("/", 10, {}), 401},
                 {te + "chunked\r\n" + ok + "\r\n", 411},
                 // Any other Transfer-Encoding would leave the body's end to
                 // guessing, and the body could be read as the next request.
                 {te + "chunked, identity\r\n" + smuggled, 400},
                 {te + "identity\r\n" + smuggled, 400},
                 {te + "chunked\r\nTransfer-Encoding: chunked\r\n" + smuggled, 400},
                 {"NADA\r\n\r\n", 400}})
            QVERIFY2(refused(request) == qMakePair(status, true), request.left(200).constData());
        // One body being read holds 1000 of the 1500 bytes: a second waits its turn.
        RawClient first(m_port);
        QVERIFY(first.send(post("/a", 1000, ok)));
        QTRY_COMPARE(m_engine->connectionCount(), 1);
        RawClient second(m_port);
        QVERIFY(second.send(post("/b", 1000, ok)));
        const QByteArray busy = second.response();
        QCOMPARE(RawClient::status(busy), 503);
        QVERIFY(busy.contains("Retry-After: 1"));
        QVERIFY(first.send(QByteArray(1000, 'x')));
        QCOMPARE(RawClient::status(first.response()), 200);
        // A gzip bomb sent whole still gets its 415 before the reset, and
        // its connection, drained, is let go of.
        QTRY_COMPARE(m_engine->connectionCount(), 1);
        RawClient bomb(m_port);
        bomb.send(post("/", 1 << 20, ok + "Content-Encoding: gzip\r\n") +
                  QByteArray(1 << 20, '\0'));
        QCOMPARE(RawClient::status(bomb.response()), 415);
        QTRY_COMPARE(m_engine->connectionCount(), 1);
        QCOMPARE(m_handled.load(), 5);
    }

    void connectionsAreBounded()
    {
        HttpEngine::Limits limits;
        limits.maxPerAddress = 3;
        start(limits);
        std::vector<std::unique_ptr<RawClient>> held;
        for (int i = 0; i < 3; ++i)
            held.push_back(std::make_unique<RawClient>(m_port));
        QTRY_COMPARE(m_engine->connectionCount(), 3);
        RawClient fourth(m_port);
        QVERIFY(fourth.closedWithin(5000));
        held.pop_back();
        QTRY_COMPARE(m_engine->connectionCount(), 2);
        RawClient again(m_port);
        QVERIFY(again.send(get("/")));
        QCOMPARE(RawClient::status(again.response()), 200);
        m_engine.reset();
        limits.maxPerAddress = 100;
        limits.maxConnections = 2;
        start(limits);
        RawClient a(m_port), b(m_port);
        QTRY_COMPARE(m_engine->connectionCount(), 2);
        RawClient c(m_port);
        QVERIFY(c.closedWithin(5000));
    }

    // Under a low open-file limit the bounds shrink to what fits, so the
    // engine refuses a flood before accept() runs out of descriptors.
    void boundsFitTheOpenFileLimit()
    {
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
        rlimit low = saved;
        low.rlim_cur = 300;
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
        const auto restore = qScopeGuard([&] { setrlimit(RLIMIT_NOFILE, &saved); });
        HttpEngine::Limits limits;
        limits.reservedFiles = 260;
        QTest::ignoreMessage(QtWarningMsg, "limite de 300 arquivos abertos: no "
                                           "máximo 40 conexões HTTP, 10 por endereço");
        start(limits);
        std::vector<std::unique_ptr<RawClient>> flood;
        for (int i = 0; i < 14; ++i)
            flood.push_back(std::make_unique<RawClient>(m_port));
        QTRY_COMPARE(m_engine->connectionCount(), 10);
        QVERIFY(flood.back()->closedWithin(5000));
        RawClient other(m_port, "127.0.0.2");
        QVERIFY(other.send(get("/")));
        QCOMPARE(RawClient::status(other.response()), 200);
        // So little room that a quarter of it is none: still one an address.
        limits.reservedFiles = 297;
        QTest::ignoreMessage(QtWarningMsg, "limite de 300 arquivos abertos: no "
                                           "máximo 3 conexões HTTP, 1 por endereço");
        openfiles::fit(limits);
    }

    // Should accept() fail all the same, the engine waits, logs once and
    // takes the connection once a descriptor is free.
    void acceptWaitsForADescriptor()
    {
#ifdef __SANITIZE_ADDRESS__
        // UBSan checks a type through a pipe of its own: with no descriptor
        // left it reports every object as of the wrong type.
        QSKIP("runs without ASan/UBSan (the tsan preset)");
#endif
        start();
        static std::atomic<int> failures;
        failures = 0;
        const auto previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) {
                // Once, and in words.
                if (m.contains("não foi possível aceitar conexões HTTP (arquivos abertos demais)"))
                    ++failures;
            });
        // Every descriptor taken; then the client's socket, made before,
        // connects and waits in the backlog.
        RawClient waiting(0);
        waiting.fd = ::socket(AF_INET, SOCK_STREAM, 0);
        std::vector<int> taken;
        const auto release = qScopeGuard([&] {
            for (const int fd : taken)
                ::close(fd);
            qInstallMessageHandler(previous);
        });
        for (int fd; (fd = ::dup(0)) >= 0;)
            taken.push_back(fd);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(m_port);
        QCOMPARE(::connect(waiting.fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        QTRY_COMPARE(failures.load(), 1);
        for (const int fd : std::exchange(taken, {}))
            ::close(fd);
        QVERIFY(waiting.send(get("/")));
        QCOMPARE(RawClient::status(waiting.response()), 200);
        QCOMPARE(failures.load(), 1);
    }

    void stopsAfterAnsweringWhatItHolds()
    {
        start();
        RawClient idle(m_port), busy(m_port);
        QVERIFY(busy.send(get("/espera")));
        QTRY_COMPARE(waiting(), 1);
        std::atomic<bool> stopped{false};
        m_engine->requestStop([&] { stopped = true; });
        QVERIFY(idle.closedWithin(5000)); // waiting for a request: dropped
        QVERIFY(!stopped);
        m_waiting.front()(HttpResponse{});
        const QByteArray a = busy.response();
        QCOMPARE(RawClient::status(a), 200);
        QVERIFY(a.contains("Connection: close"));
        QTRY_VERIFY(stopped.load());
        RawClient late(m_port);
        QCOMPARE(late.fd, -1);
    }
};

QTEST_GUILESS_MAIN(TestHttpEngine)
#include "tst_httpengine.moc"
