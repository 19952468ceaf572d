// MQTT's way through one service, on stand-in panels that answer at once
// on pseudo-terminals (two lines): 200 texts in a row, each published
// after the last one's answer (publish to the frame's first byte at the
// panel, beyond the protocol's pause; the whole frame at the panel to its
// answer on the response topic); then a flood of 5,000 texts for line A
// with one text for line B behind it (how long B's text waits, against one
// exchange), and the service's peak memory.
#include "benchpanel.h"
#include "benchutil.h"
#include "panellink.h"
#include "server/mqtt/mqttpeers.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace
{
qint64 statusKb(qint64 pid, const char *field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    return -1;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
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
                      answered.insert(topic.mid(2).toUtf8(), benchNowMs());
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
        const double sent = benchNowMs();
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
    const double started = benchNowMs();
    for (int i = 0; i < flood; ++i)
        peer.publish(QStringLiteral("letreiro/s/a/texto"), "cheia " + QByteArray::number(i),
                     {false, QStringLiteral("r/cheia %1").arg(i)});
    const double other = benchNowMs();
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
