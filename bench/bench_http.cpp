// letreiro-servidor's HTTP under attack: a thousand keep-alive clients on
// the page (wrk), a thousand slow-loris connections while a normal request
// is timed, a gzip bomb and ten thousand header fields against its memory.
//   bench_http              starts the service on an emulated panel
//   bench_http URL PID      measures a server already running (any engine)
#include "benchutil.h"
#include "rawhttp.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <memory>
#include <vector>

namespace
{

// The process's resident memory and its peak, in MB.
double memoryMb(qint64 pid, const char *field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toDouble() / 1024;
    return -1;
}

// Milliseconds for one GET / on a fresh connection, answered whole.
double oneRequestMs(quint16 port)
{
    QElapsedTimer t;
    t.start();
    RawClient c(port);
    c.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    const bool ok = RawClient::status(c.response(10000)) == 200;
    return ok ? double(t.nsecsElapsed()) / 1e6 : 1e9;
}

void keepAliveClients(const QString &url)
{
    QProcess wrk;
    wrk.start(QStringLiteral("wrk"),
              {QStringLiteral("-t2"), QStringLiteral("-c1000"), QStringLiteral("-d10s"),
               QStringLiteral("--timeout"), QStringLiteral("10s"), QStringLiteral("--latency"),
               url + u'/'});
    wrk.waitForFinished(60000);
    const QString out = QString::fromUtf8(wrk.readAllStandardOutput());
    const auto number = [&](const QString &pattern) {
        const QRegularExpressionMatch m = QRegularExpression(pattern).match(out);
        return m.hasMatch() ? m.captured(1).toDouble() * (m.captured(2) == u"s"    ? 1000
                                                          : m.captured(2) == u"us" ? 0.001
                                                                                   : 1)
                            : -1;
    };
    const double p99 = number(QStringLiteral(R"(99%\s+([\d.]+)(us|ms|s))"));
    const double rps = number(QStringLiteral(R"(Requests/sec:\s+([\d.]+)())"));
    int errors = 0;
    for (const auto &m :
         QRegularExpression(QStringLiteral(R"((?:connect|read|write|timeout|responses:) (\d+))"))
             .globalMatch(out))
        errors += m.captured(1).toInt();
    report("1,000 keep-alive clients on GET /: p99", p99, "ms", "<= 100 ms",
           p99 >= 0 && p99 <= 100);
    report("1,000 keep-alive clients on GET /: errors", errors, "", "0", errors == 0);
    report("1,000 keep-alive clients on GET /: requests a second", rps, "/s", "-", rps > 0);
}

void slowLoris(quint16 port, qint64 pid)
{
    // Each sends a header byte a second; dropped ones come back at once.
    std::vector<std::unique_ptr<RawClient>> loris;
    const auto refill = [&] {
        for (auto &c : loris)
            if (c->fd < 0 || !c->send("X")) c = std::make_unique<RawClient>(port);
        while (loris.size() < 1000) {
            loris.push_back(std::make_unique<RawClient>(port));
            loris.back()->send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Lento: ");
        }
    };
    double worst = 0, memory = 0;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 15000) {
        refill();
        for (int i = 0; i < 10; ++i) {
            worst = std::max(worst, oneRequestMs(port));
            QThread::msleep(100);
        }
        memory = std::max(memory, memoryMb(pid, "VmRSS:"));
    }
    report("1,000 slow-loris connections: a normal GET /, worst", worst, "ms", "<= 100 ms",
           worst <= 100);
    report("1,000 slow-loris connections: server memory", memory, "MB", "<= 64 MB", memory <= 64);
}

void bombs(quint16 port, qint64 pid)
{
    QProcess gzip;
    gzip.start(QStringLiteral("sh"),
               {QStringLiteral("-c"), QStringLiteral("head -c 1073741824 /dev/zero | gzip -1")});
    gzip.waitForFinished(120000);
    const QByteArray bomb = gzip.readAllStandardOutput();
    const double before = memoryMb(pid, "VmHWM:");
    for (int i = 0; i < 4; ++i) {
        RawClient c(port);
        c.send("POST /api/entrar HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
               "Content-Encoding: gzip\r\nContent-Length: " +
               QByteArray::number(bomb.size()) + "\r\n\r\n" + bomb);
        c.response(30000);
    }
    const double afterBomb = memoryMb(pid, "VmHWM:");
    QByteArray many = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (int i = 0; i < 10000; ++i)
        many += "X-Campo-" + QByteArray::number(i) + ": " + QByteArray(8, 'a') + "\r\n";
    for (int i = 0; i < 4; ++i) {
        RawClient c(port);
        c.send(many + "\r\n");
        c.response(30000);
    }
    const double afterHeaders = memoryMb(pid, "VmHWM:");
    report("gzip bomb (1 MB -> 1 GB), 4 times: peak memory added", afterBomb - before, "MB",
           "<= 10 MB", afterBomb - before <= 10);
    report("10,000 header fields, 4 times: peak memory added", afterHeaders - afterBomb, "MB",
           "<= 10 MB", afterHeaders - afterBomb <= 10);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QProcess panel, server;
    QString url;
    qint64 pid = 0;
    if (argc == 3) {
        url = QString::fromUtf8(argv[1]);
        pid = QByteArray(argv[2]).toLongLong();
    } else {
        panel.start(QStringLiteral(LETREIRO_CLI), {QStringLiteral("painel")});
        panel.waitForReadyRead(5000);
        const QString device = QString::fromUtf8(panel.readLine()).trimmed();
        const QString cfg = writeServiceConfig(dir.path(), device);
        server.start(QStringLiteral(LETREIRO_SERVIDOR),
                     {QStringLiteral("--config"), cfg});
        server.waitForReadyRead(10000);
        url = QString::fromUtf8(server.readLine()).trimmed();
        pid = server.processId();
    }
    const quint16 port = quint16(QUrl(url).port());
    report("idle server memory", memoryMb(pid, "VmRSS:"), "MB", "-", true);
    keepAliveClients(url);
    slowLoris(port, pid);
    bombs(port, pid);
    server.terminate();
    server.waitForFinished();
    panel.terminate();
    panel.waitForFinished();
    return 0;
}
