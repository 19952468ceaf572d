// MQTT's way through one service, on stand-in panels that answer at once
// on pseudo-terminals (two lines): 200 texts in a row, each published
// after the last one's answer (publish to the frame's first byte at the
// panel, beyond the protocol's pause; the whole frame at the panel to its
// answer on the response topic); then a flood of 5,000 texts for line A
// with one text for line B behind it (how long B's text waits, against one
// exchange), and the service's peak memory.
#include "benchutil.h"
#include "frame.h"
#include "panellink.h"
#include "replyreceiver.h"
#include "server/mqtt/mqttpeers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>

namespace
{
QElapsedTimer g_clock;

double nowMs()
{
    return g_clock.nsecsElapsed() / 1e6;
}

// A panel on a pseudo-terminal: each whole frame acknowledged at once, the
// time of its first and last byte kept by its text.
class StandIn
{
public:
    StandIn()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(m_master);
        unlockpt(m_master);
        device = QString::fromLocal8Bit(ptsname(m_master));
        m_thread = std::thread([this] { serve(); });
    }
    ~StandIn()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_master);
    }
    struct Seen {
        double first = 0, last = 0;
    };
    QHash<QByteArray, Seen> frames()
    {
        QMutexLocker lock(&m_mutex);
        return m_frames;
    }
    QString device;

private:
    void serve()
    {
        ReplyReceiver r;
        double first = 0;
        while (!m_stop) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            char buf[4096];
            const ssize_t n = read(m_master, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                if (first == 0) first = nowMs();
                if (!r.feed(quint8(buf[i]))) continue;
                const QByteArray ack = frame::build(qint16(r.address()), QByteArray(1, char(6)));
                (void)!write(m_master, ack.constData(), size_t(ack.size()));
                QMutexLocker lock(&m_mutex);
                m_frames.insert(r.payload().chopped(1).mid(1), {first, nowMs()});
                r.reset();
                first = 0;
            }
        }
    }
    int m_master = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    QMutex m_mutex;
    QHash<QByteArray, Seen> m_frames;
};

double percentile(QList<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(qMin(v.size() - 1, int(p * v.size())));
}

qint64 statusKb(qint64 pid, const char *field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    return -1;
}

template <typename F> bool waitUntil(double timeoutMs, F &&done)
{
    const double end = nowMs() + timeoutMs;
    while (!done()) {
        if (nowMs() > end) return false;
        QThread::msleep(1);
    }
    return true;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    g_clock.start();
    QTemporaryDir dir;
    Broker broker(dir.filePath(QStringLiteral("broker")));
    StandIn lineA, lineB;
    QFile cfg(dir.filePath(QStringLiteral("s.ini")));
    cfg.open(QIODevice::WriteOnly);
    cfg.write(QStringLiteral("[servidor]\nescuta = 127.0.0.1:0\n[linha la]\nporta = %1\n"
                             "[linha lb]\nporta = %2\n[painel a]\nlinha = la\nendereco = 1\n"
                             "[painel b]\nlinha = lb\nendereco = 1\n"
                             "[mqtt]\nservidor = 127.0.0.1:%3\nsitio = s\n")
                  .arg(lineA.device, lineB.device)
                  .arg(broker.port())
                  .toUtf8());
    cfg.close();
    QProcess service;
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(QStringLiteral(LETREIRO_SERVIDOR), {QStringLiteral("--config"), cfg.fileName()});
    service.waitForReadyRead(10000);

    QMutex mutex;
    QHash<QByteArray, double> answered;
    MqttPeer peer(broker.port(), {QStringLiteral("r/#"), QStringLiteral("letreiro/s/estado")},
                  [&](const QString &topic, const QByteArray &) {
                      if (!topic.startsWith(QLatin1String("r/"))) return;
                      QMutexLocker lock(&mutex);
                      answered.insert(topic.mid(2).toUtf8(), nowMs());
                  });
    waitUntil(10000,
              [&] { return peer.on(QStringLiteral("letreiro/s/estado")).contains("online"); });
    const auto answerOf = [&](const QByteArray &id) {
        QMutexLocker lock(&mutex);
        return answered.value(id, 0);
    };

    // 200 in a row.
    QList<double> toFirstByte, toAnswer, onWire;
    for (int i = 0; i < 200; ++i) {
        const QByteArray text = "seguida " + QByteArray::number(i);
        const double sent = nowMs();
        peer.publish(QStringLiteral("letreiro/s/a/texto"), text,
                     {false, QString::fromLatin1("r/" + text)});
        if (!waitUntil(10000, [&] { return answerOf(text) > 0; })) break;
        const StandIn::Seen seen = lineA.frames().value(text);
        toFirstByte.append(seen.first - sent - PanelLink::kPauseMs);
        toAnswer.append(answerOf(text) - seen.last);
        onWire.append(seen.last - seen.first);
    }
    std::printf("mqtt: %lld texts in a row; publish to first byte beyond the %lld ms pause: "
                "median %.1f ms, 95th percentile %.1f ms\n",
                qint64(toAnswer.size()), PanelLink::kPauseMs, percentile(toFirstByte, 0.5),
                percentile(toFirstByte, 0.95));
    std::printf("mqtt: whole frame at the panel to its answer: median %.1f ms, 95th percentile "
                "%.1f ms (goal 5 and 15)\n",
                percentile(toAnswer, 0.5), percentile(toAnswer, 0.95));
    const double exchange = percentile(onWire, 0.5) + PanelLink::kPauseMs;

    // The flood, then one text on the other line.
    const int flood = argc > 1 ? atoi(argv[1]) : 5000;
    const double started = nowMs();
    for (int i = 0; i < flood; ++i)
        peer.publish(QStringLiteral("letreiro/s/a/texto"), "cheia " + QByteArray::number(i),
                     {false, QStringLiteral("r/cheia %1").arg(i)});
    const double other = nowMs();
    peer.publish(QStringLiteral("letreiro/s/b/texto"), "outra", {false, QStringLiteral("r/outra")});
    waitUntil(120000, [&] { return lineB.frames().contains("outra"); });
    const double otherWait = lineB.frames().value("outra").last - other;
    const QByteArray last = "cheia " + QByteArray::number(flood - 1);
    waitUntil(600000, [&] { return answerOf(last) > 0; });
    std::printf("mqtt: %d texts flooding line A: line B's text done %.0f ms after its publish "
                "(one exchange ~%.0f ms); the flood answered in %.1f s; line A ran %lld frames\n",
                flood, otherWait, exchange, (answerOf(last) - started) / 1000.0,
                qint64(lineA.frames().size()) - 200);
    std::printf("mqtt: service peak memory %.1f MB (VmHWM; goal <= 64)\n",
                statusKb(service.processId(), "VmHWM:") / 1024.0);
    service.terminate();
    service.waitForFinished(15000);
    return 0;
}
