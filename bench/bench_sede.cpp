// The head office over 200 sites of 4 panels (simulated: they publish and
// answer as a site does, each on a connection of its own with its will)
// and one real site service with an emulated line: how long the list of
// sites takes, how soon after the last answer every row of a send to all
// panels is resolved, the head office's memory, and how soon a site killed
// shows as offline after the broker publishes its will.
#include "benchutil.h"
#include "server/mqtt/mqttpeers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <atomic>
#include <memory>

namespace
{
constexpr int kSites = 200, kPanels = 4;
std::atomic<qint64> g_lastAnswerNs{0};
QElapsedTimer g_clock;

// A site as the head office sees one: presence with its will, panels,
// and one answer per message on its Response Topic.
class SimulatedSite
{
public:
    SimulatedSite(quint16 port, int n) : m_name(QStringLiteral("sim%1").arg(n))
    {
        m_client = mosquitto_new(nullptr, true, this);
        mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);
        const QByteArray will = topic(QStringLiteral("estado"));
        mosquitto_will_set(m_client, will.constData(), 7, "offline", 1, true);
        mosquitto_connect_v5_callback_set(m_client, [](mosquitto *m, void *self, int, int, const mosquitto_property *) {
            auto *s = static_cast<SimulatedSite *>(self);
            QJsonArray panels;
            for (int p = 0; p < kPanels; ++p)
                panels.append(QJsonObject{{QStringLiteral("painel"), QStringLiteral("p%1").arg(p)},
                                          {QStringLiteral("tipo"), 0}, {QStringLiteral("largura"), 12},
                                          {QStringLiteral("linha"), QStringLiteral("l")}});
            const QByteArray list = QJsonDocument(QJsonObject{{QStringLiteral("paineis"), panels}}).toJson(QJsonDocument::Compact);
            mosquitto_publish(m, nullptr, s->topic(QStringLiteral("paineis")).constData(), int(list.size()), list.constData(), 1, true);
            mosquitto_publish(m, nullptr, s->topic(QStringLiteral("estado")).constData(), 6, "online", 1, true);
            mosquitto_subscribe(m, nullptr, s->topic(QStringLiteral("+/texto")).constData(), 1);
        });
        mosquitto_message_v5_callback_set(m_client, [](mosquitto *m, void *, const mosquitto_message *msg,
                                                       const mosquitto_property *props) {
            char *response = nullptr;
            void *corr = nullptr;
            uint16_t length = 0;
            mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response, false);
            mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &corr, &length, false);
            mosquitto_property *out = nullptr;
            mosquitto_property_add_binary(&out, MQTT_PROP_CORRELATION_DATA, corr, length);
            static const QByteArray ok = R"({"ok":true,"resultado":"enviado"})";
            if (response) mosquitto_publish_v5(m, nullptr, response, int(ok.size()), ok.constData(), 1, false, out);
            g_lastAnswerNs = g_clock.nsecsElapsed();
            mosquitto_property_free_all(&out);
            free(response);
            free(corr);
            Q_UNUSED(msg);
        });
        mosquitto_connect_async(m_client, "127.0.0.1", port, 30);
        mosquitto_loop_start(m_client);
    }
    ~SimulatedSite()
    {
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, false);
        mosquitto_destroy(m_client);
    }
    QByteArray topic(const QString &rest) const { return QStringLiteral("letreiro/%1/%2").arg(m_name, rest).toUtf8(); }

private:
    QString m_name;
    mosquitto *m_client = nullptr;
};

QProcess *serve(const QString &folder, const QString &ini, QString *url)
{
    QDir().mkpath(folder);
    QFile f(folder + QStringLiteral("/s.ini"));
    f.open(QIODevice::WriteOnly);
    f.write(ini.toUtf8());
    f.close();
    QProcess set;
    set.start(QStringLiteral(LETREIRO_SERVIDOR), {QStringLiteral("--config"), f.fileName(), QStringLiteral("--usuario"), QStringLiteral("b")});
    set.write("b\n");
    set.closeWriteChannel();
    set.waitForFinished();
    auto *p = new QProcess;
    p->start(QStringLiteral(LETREIRO_SERVIDOR), {QStringLiteral("--config"), f.fileName()});
    p->waitForReadyRead(10000);
    *url = QString::fromUtf8(p->readLine()).trimmed();
    return p;
}

QByteArray call(QNetworkAccessManager &net, const QString &url, const QByteArray &cookie,
                const QByteArray &body = {})
{
    QNetworkRequest req{QUrl(url)};
    req.setRawHeader("Cookie", cookie);
    req.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QNetworkReply *r = body.isNull() ? net.get(req) : net.post(req, body);
    if (!r->isFinished()) QSignalSpy(r, &QNetworkReply::finished).wait(60000);
    r->deleteLater();
    return r == nullptr ? QByteArray() : r->readAll();
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    g_clock.start();
    mosquitto_lib_init();
    QTemporaryDir dir;
    Broker broker(dir.filePath(QStringLiteral("broker")));
    QProcess panel;
    panel.start(QStringLiteral(LETREIRO_CLI), {QStringLiteral("painel"), QStringLiteral("--endereco"), QStringLiteral("1")});
    panel.waitForReadyRead(5000);
    const QString device = QString::fromUtf8(panel.readLine()).trimmed();
    QString siteUrl, url;
    std::unique_ptr<QProcess> site(serve(dir.filePath(QStringLiteral("real")),
        QStringLiteral("[servidor]\nescuta = 127.0.0.1:0\n[linha l]\nporta = %1\n[painel entrada]\nlinha = l\nendereco = 1\n"
                       "[mqtt]\nservidor = 127.0.0.1:%2\nsitio = real\n").arg(device).arg(broker.port()), &siteUrl));
    std::unique_ptr<QProcess> sede(serve(dir.filePath(QStringLiteral("sede")),
        QStringLiteral("[servidor]\nescuta = 127.0.0.1:0\n[sede]\nservidor = 127.0.0.1:%1\nvalidade = 1min\n").arg(broker.port()), &url));
    std::vector<std::unique_ptr<SimulatedSite>> sites;
    for (int i = 0; i < kSites; ++i)
        sites.push_back(std::make_unique<SimulatedSite>(broker.port(), i));

    QNetworkAccessManager net;
    QNetworkRequest login{QUrl(url + QStringLiteral("/api/entrar"))};
    login.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QNetworkReply *in = net.post(login, R"({"usuario":"b","senha":"b"})");
    QSignalSpy(in, &QNetworkReply::finished).wait(30000);
    const QByteArray cookie = in->rawHeader("Set-Cookie").split(';').first();
    const auto online = [&] {
        int n = 0;
        for (const QJsonValue &v : QJsonDocument::fromJson(call(net, url + QStringLiteral("/api/sede/sitios"), cookie))[QStringLiteral("sitios")].toArray())
            n += v[QStringLiteral("estado")].toString() == QLatin1String("online");
        return n;
    };
    QElapsedTimer waited;
    waited.start();
    while (online() < kSites + 1 && waited.elapsed() < 60000)
        QThread::msleep(100);

    const double list = medianMs(21, [&] { call(net, url + QStringLiteral("/api/sede/sitios"), cookie); });
    report("sede: list of 201 sites (GET /api/sede/sitios)", list, "ms", "<= 1000", list <= 1000);

    const QJsonObject sent = QJsonDocument::fromJson(
        call(net, url + QStringLiteral("/api/sede/envios"), cookie, R"({"texto":"Liquidação de inverno"})")).object();
    const QString id = sent[QStringLiteral("id")].toString();
    QJsonObject state;
    qint64 resolvedNs = 0;
    for (waited.restart(); waited.elapsed() < 120000;) {
        state = QJsonDocument::fromJson(call(net, url + QStringLiteral("/api/sede/envios/") + id, cookie)).object();
        if (!state[QStringLiteral("aberto")].toBool()) {
            resolvedNs = g_clock.nsecsElapsed();
            break;
        }
        QThread::msleep(20);
    }
    // The real site's panel answers last (2400 baud); the simulated ones at once.
    const double after = double(resolvedNs - g_lastAnswerNs) / 1e6;
    std::printf("sede: %s\n", qPrintable(state[QStringLiteral("resumo")].toString()));
    report("sede: every row of 801 resolved after the last answer", after, "ms", "<= 2000",
           resolvedNs && after <= 2000 && state[QStringLiteral("total")].toInt() == kSites * kPanels + 1);
    const double mb = residentKb(sede->processId()) / 1024.0;
    report("sede: head office memory (VmRSS)", mb, "MB", "<= 64", mb <= 64);

    // A site killed: its will, then the head office's page.
    MqttPeer watcher(broker.port(), {QStringLiteral("letreiro/real/estado")});
    while (!watcher.subscribed()) QThread::msleep(10);
    site->kill();
    site->waitForFinished();
    qint64 willNs = 0;
    for (waited.restart(); !willNs && waited.elapsed() < 10000; QThread::msleep(1))
        if (watcher.on(QStringLiteral("letreiro/real/estado")).contains("offline")) willNs = g_clock.nsecsElapsed();
    qint64 shownNs = 0;
    for (waited.restart(); !shownNs && waited.elapsed() < 10000; QThread::msleep(20)) {
        const QJsonObject s = QJsonDocument::fromJson(call(net, url + QStringLiteral("/api/sede/sitios/real"), cookie)).object();
        if (s[QStringLiteral("estado")].toString() == QLatin1String("offline")) shownNs = g_clock.nsecsElapsed();
    }
    const double offline = double(shownNs - willNs) / 1e6;
    report("sede: a killed site shown offline after its will", offline, "ms", "<= 2000", willNs && shownNs && offline <= 2000);
    sites.clear();
    sede->terminate();
    sede->waitForFinished();
    panel.kill();
    panel.waitForFinished();
    return 0;
}
