// A fleet on one broker: 20 services (sites), 5 emulated panels each on a
// line of its own, 1,000 texts published over MQTT. Every text must reach
// its panel exactly once; the latency from publish to the panel's state
// (published after its ACK), beyond the exchange itself; memory per service.
#include "benchline.h"
#include "benchpanel.h"
#include "benchutil.h"
#include "panelcommands.h"
#include "server/mqtt/mqttpeers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace
{
int kSites = 20; // a first argument sets another count, for comparison
constexpr int kPanels = 5;
const int kTexts = 1000;

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc > 1) kSites = qBound(1, atoi(argv[1]), 20);
    QTemporaryDir dir;
    Broker broker(dir.filePath(QStringLiteral("broker")));
    std::vector<std::unique_ptr<QProcess>> panels, services;
    for (int s = 0; s < kSites; ++s) {
        auto &panel = panels.emplace_back(std::make_unique<QProcess>());
        panel->start(QStringLiteral(LETREIRO_CLI),
                     {QStringLiteral("painel"), QStringLiteral("--endereco"),
                      QStringLiteral("1-%1").arg(kPanels)});
        panel->waitForReadyRead(5000);
        const QString device = QString::fromUtf8(panel->readLine()).trimmed();
        QString ini =
            QStringLiteral(
                "[servidor]\nescuta = 127.0.0.1:0\nhistorico = h%1.json\nagenda = a%1.ini\n"
                "[linha l]\nporta = %2\n[mqtt]\nservidor = 127.0.0.1:%3\nsitio = s%1\n")
                .arg(s)
                .arg(device)
                .arg(broker.port());
        for (int p = 1; p <= kPanels; ++p)
            ini += QStringLiteral("[painel p%1]\nlinha = l\nendereco = %1\n").arg(p);
        QFile cfg(dir.filePath(QStringLiteral("s%1.ini").arg(s)));
        cfg.open(QIODevice::WriteOnly);
        cfg.write(ini.toUtf8());
        cfg.close();
        auto &service = services.emplace_back(std::make_unique<QProcess>());
        service->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        service->start(QStringLiteral(LETREIRO_SERVIDOR),
                       {QStringLiteral("--config"), cfg.fileName()});
        service->waitForReadyRead(10000);
    }

    // The exchange itself: the same text straight over a line of its own.
    QProcess direct;
    direct.start(QStringLiteral(LETREIRO_CLI), {QStringLiteral("painel")});
    direct.waitForReadyRead(5000);
    BenchLine line;
    if (!line.open(QString::fromUtf8(direct.readLine()).trimmed())) return 1;
    PanelCommands commands(*line.link);
    const double exchange = medianMs(20, [&] { commands.transfer(1, "Lt0000 oferta"); });

    // Each site a stream: its next text goes out when the last one's state
    // comes back, so what is measured is the way through, not a queue.
    QMutex mutex;
    QHash<QString, qint64> sentAt;
    QList<double> latencies;
    QElapsedTimer clock;
    clock.start();
    int next[20] = {};
    std::unique_ptr<MqttPeer> peer;
    const auto publishNext = [&](int site) { // under `mutex`
        const int k = next[site]++;
        if (k >= kTexts / kSites) return;
        const QString text =
            QStringLiteral("t%1 oferta").arg(site * 1000 + k, 5, 10, QLatin1Char('0'));
        sentAt.insert(text, clock.nsecsElapsed());
        peer->publish(QStringLiteral("letreiro/s%1/p%2/texto").arg(site).arg(k % kPanels + 1),
                      text.toUtf8());
    };
    peer = std::make_unique<MqttPeer>(
        broker.port(), QStringList{QStringLiteral("letreiro/+/+/estado")},
        [&](const QString &topic, const QByteArray &payload) {
            const QString text =
                QJsonDocument::fromJson(payload).object().value(QStringLiteral("texto")).toString();
            QMutexLocker lock(&mutex);
            const auto it = sentAt.constFind(text);
            if (it == sentAt.constEnd()) return;
            latencies.append((clock.nsecsElapsed() - *it) / 1e6);
            sentAt.erase(it);
            publishNext(topic.section(u'/', 1, 1).mid(1).toInt());
        });
    while (!peer->subscribed())
        QThread::msleep(10);
    QThread::sleep(1); // every service subscribed
    const qint64 started = clock.elapsed();
    {
        QMutexLocker lock(&mutex);
        for (int s = 0; s < kSites; ++s)
            publishNext(s);
    }
    for (int i = 0; i < 600; ++i) {
        QThread::msleep(100);
        QMutexLocker lock(&mutex);
        if (latencies.size() == kTexts) break;
    }
    const double seconds = (clock.elapsed() - started) / 1000.0;

    // Exactly once, to the right panel of the right site.
    int delivered = 0, wrong = 0;
    qint64 rss = 0;
    for (int s = 0; s < kSites; ++s) {
        rss += residentKb(services[size_t(s)]->processId());
        services[size_t(s)]->terminate();
        services[size_t(s)]->waitForFinished(10000);
        panels[size_t(s)]->terminate();
        panels[size_t(s)]->waitForFinished(5000);
        const QList<QByteArray> lines = panels[size_t(s)]->readAllStandardOutput().split('\n');
        for (int k = 0; k < kTexts / kSites; ++k) {
            const QString expected = QStringLiteral("endereço %1, verificação certa: Lt%2 oferta")
                                         .arg(k % kPanels + 1)
                                         .arg(s * 1000 + k, 5, 10, QLatin1Char('0'));
            const auto n = std::count(lines.cbegin(), lines.cend(), expected.toUtf8());
            delivered += n == 1;
            wrong += n != 1;
        }
    }
    QMutexLocker lock(&mutex);
    QList<double> beyond;
    for (const double l : latencies)
        beyond.append(l - exchange);
    std::printf(
        "fleet: %d services x %d panels, %d texts over MQTT in %.1f s: %d delivered once, %d not\n",
        kSites, kPanels, kTexts, seconds, delivered, wrong);
    std::printf("fleet: the exchange alone %.1f ms; publish to state beyond it: median %.1f ms, "
                "95th percentile %.1f ms\n",
                exchange, percentile(beyond, 0.5), percentile(beyond, 0.95));
    std::printf("fleet: memory per service %.1f MB (resident, average of %d)\n",
                rss / 1024.0 / kSites, kSites);
    peer.reset();
    direct.terminate();
    direct.waitForFinished(5000);
    return delivered == kTexts ? 0 : 1;
}
