// A text's way from each door to the panel: 200 texts through the API and
// 200 published over MQTT, each sent after the last one's answer, to a
// stand-in panel on TCP; from the request to the frame's first byte at the
// panel, beyond the protocol's pause. Twice, on a Mosquitto of its own: as
// the broker comes, and with `set_tcp_nodelay true`, since a broker that
// leaves Nagle on holds its small writes to the service until the service's
// delayed ACK (some 40 ms a text).
#include "benchpanel.h"
#include "benchutil.h"
#include "panellink.h"
#include "server/mqtt/mqttpeers.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>

#include <cstdio>

namespace
{
constexpr int kTexts = 200;

// Mosquitto on a free port of 127.0.0.1, nothing kept; `nodelay` as named.
class OwnBroker
{
public:
    OwnBroker(const QString &folder, bool nodelay)
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        QFile conf(folder + QStringLiteral("/mosquitto.conf"));
        conf.open(QIODevice::WriteOnly);
        // "user root" keeps a broker started by root from dropping to an
        // account that may not read this folder.
        conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\nuser root\n"
                                  "log_type error\n%2")
                       .arg(m_port)
                       .arg(nodelay ? QStringLiteral("set_tcp_nodelay true\n") : QString())
                       .toUtf8());
        conf.close();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(MOSQUITTO_BROKER), {QStringLiteral("-c"), conf.fileName()});
        waitUntil(5000, [&] {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, m_port);
            return s.waitForConnected(100);
        });
    }
    ~OwnBroker()
    {
        m_process.terminate();
        m_process.waitForFinished(10000);
    }
    quint16 port() const { return m_port; }

private:
    quint16 m_port = 0;
    QProcess m_process;
};

QNetworkReply *post(QNetworkAccessManager &net, const QString &url, const QByteArray &cookie,
                    const QByteArray &body)
{
    QNetworkRequest req{QUrl(url)};
    req.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!cookie.isEmpty()) req.setRawHeader("Cookie", cookie);
    QNetworkReply *reply = net.post(req, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec();
    reply->deleteLater();
    return reply;
}

// The figures of one door; false when a goal is missed.
bool say(const char *broker, const char *door, const QList<double> &beyond)
{
    const double median = percentile(beyond, 0.5), p95 = percentile(beyond, 0.95);
    const bool met = beyond.size() == kTexts && median <= 1 && p95 <= 5;
    std::printf("tail (%s, %s): %lld texts; request to first byte beyond the %lld ms pause: "
                "median %.2f ms, 95th percentile %.2f ms, worst %.2f ms (goal 1 and 5) %s\n",
                broker, door, qint64(beyond.size()), PanelLink::kPauseMs, median, p95,
                percentile(beyond, 1), met ? "ok" : "MISSED");
    return met;
}

bool run(bool nodelay)
{
    const char *name = nodelay ? "set_tcp_nodelay true" : "broker's default";
    QTemporaryDir dir;
    OwnBroker broker(dir.path(), nodelay);
    StandIn panel(StandIn::Tcp);
    QFile cfg(dir.filePath(QStringLiteral("s.ini")));
    cfg.open(QIODevice::WriteOnly);
    cfg.write(QStringLiteral("[servidor]\nescuta = 127.0.0.1:0\n[linha l]\nporta = %1\n"
                             "[painel p]\nlinha = l\nendereco = 1\n"
                             "[mqtt]\nservidor = 127.0.0.1:%2\nsitio = s\n")
                  .arg(panel.device)
                  .arg(broker.port())
                  .toUtf8());
    cfg.close();
    QProcess user, service;
    user.start(QStringLiteral(LETREIRO_SERVIDOR), {QStringLiteral("--config"), cfg.fileName(),
                                                   QStringLiteral("--usuario"), QStringLiteral("b")});
    user.write("b\n");
    user.closeWriteChannel();
    user.waitForFinished();
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(QStringLiteral(LETREIRO_SERVIDOR), {QStringLiteral("--config"), cfg.fileName()});
    service.waitForReadyRead(10000);
    const QString url = QString::fromUtf8(service.readLine()).trimmed();
    QNetworkAccessManager net;
    const QByteArray cookie = post(net, url + QStringLiteral("/api/entrar"), {},
                                   R"({"usuario":"b","senha":"b"})")
                                  ->rawHeader("Set-Cookie")
                                  .split(';')
                                  .first();

    QMutex mutex;
    QSet<QByteArray> answered;
    MqttPeer peer(broker.port(), {QStringLiteral("r/#"), QStringLiteral("letreiro/s/estado")},
                  [&](const QString &topic, const QByteArray &) {
                      if (!topic.startsWith(QLatin1String("r/"))) return;
                      QMutexLocker lock(&mutex);
                      answered.insert(topic.mid(2).toUtf8());
                  });
    waitUntil(10000,
              [&] { return peer.on(QStringLiteral("letreiro/s/estado")).contains("online"); });

    QList<double> api, mqtt;
    for (int i = 0; i < kTexts; ++i) {
        const QByteArray text = "pela API " + QByteArray::number(i);
        const double sent = benchNowMs();
        post(net, url + QStringLiteral("/api/paineis/p/texto"), cookie,
             R"({"texto":")" + text + "\"}");
        const double first = panel.frame(text).first;
        if (first > 0) api.append(first - sent - PanelLink::kPauseMs);
    }
    for (int i = 0; i < kTexts; ++i) {
        const QByteArray text = "por MQTT " + QByteArray::number(i);
        const double sent = benchNowMs();
        peer.publish(QStringLiteral("letreiro/s/p/texto"), text,
                     {false, QString::fromLatin1("r/" + text)});
        if (!waitUntil(10000, [&] {
                QMutexLocker lock(&mutex);
                return answered.contains(text);
            }))
            break;
        mqtt.append(panel.frame(text).first - sent - PanelLink::kPauseMs);
    }
    service.terminate();
    service.waitForFinished(15000);
    const bool apiMet = say(name, "API", api);
    return say(name, "MQTT", mqtt) && apiMet;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    run(false); // said, for comparison: the broker set-up page asks for the other
    return run(true) ? 0 : 1;
}
