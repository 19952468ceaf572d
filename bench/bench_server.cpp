// letreiro-servidor: what the service adds to an exchange, how many
// previews it makes a second, and a hundred clients queued on one line,
// none lost and none out of the order they came in.
#include "benchline.h"
#include "benchutil.h"
#include "frame.h"
#include "panelcommands.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>

namespace
{

QString startEmulator(QProcess &p)
{
    p.start(QStringLiteral(LETREIRO_CLI), {QStringLiteral("painel")});
    p.waitForReadyRead(5000);
    return QString::fromUtf8(p.readLine()).trimmed();
}

QNetworkReply *post(QNetworkAccessManager &net, const QString &url, const QByteArray &cookie,
                    const QByteArray &body)
{
    QNetworkRequest req{QUrl(url)};
    req.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!cookie.isEmpty()) req.setRawHeader("Cookie", cookie);
    return net.post(req, body);
}

void wait(QNetworkReply *r)
{
    if (!r->isFinished()) QSignalSpy(r, &QNetworkReply::finished).wait(120000);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QProcess panel, direct;
    const QString device = startEmulator(panel);
    const QString cfg = writeServiceConfig(dir.path(), device);
    QProcess user, server;
    user.start(QStringLiteral(LETREIRO_SERVIDOR),
               {QStringLiteral("--config"), cfg, QStringLiteral("--usuario"), QStringLiteral("b")});
    user.write("b\n");
    user.closeWriteChannel();
    user.waitForFinished();
    server.start(QStringLiteral(LETREIRO_SERVIDOR), {QStringLiteral("--config"), cfg});
    server.waitForReadyRead(10000);
    const QString url = QString::fromUtf8(server.readLine()).trimmed();
    QNetworkAccessManager net;
    QNetworkReply *login =
        post(net, url + QStringLiteral("/api/entrar"), {}, R"({"usuario":"b","senha":"b"})");
    wait(login);
    const QByteArray cookie = login->rawHeader("Set-Cookie").split(';').first();

    // The same exchange straight over a line of its own, then through the
    // service: the difference is what the service adds.
    const QByteArray text = "Bom dia! Ofertas de verão";
    BenchLine line;
    if (!line.open(startEmulator(direct))) return 1;
    PanelCommands commands(*line.link);
    const double alone = medianMs(20, [&] { commands.transfer(1, 'L' + text); });
    const double served = medianMs(20, [&] {
        wait(post(net, url + QStringLiteral("/api/paineis/p/texto"), cookie,
                  QByteArray(R"({"texto":")") + text + "\"}"));
    });
    report("POST /texto beyond the exchange itself (median of 20)", served - alone, "ms", "<= 5 ms",
           served - alone <= 5);

    // Previews, four at a time for three seconds.
    QElapsedTimer clock;
    clock.start();
    int previews = 0;
    QList<QNetworkReply *> running;
    const auto preview = [&] {
        QNetworkRequest req{
            QUrl(url + QStringLiteral("/api/previa?largura=30&ate=60&texto=") +
                 QString::fromUtf8(QUrl::toPercentEncoding(QString::fromUtf8(text))))};
        req.setRawHeader("Cookie", cookie);
        QNetworkReply *r = net.get(req);
        QObject::connect(r, &QNetworkReply::finished, [&, r] {
            ++previews;
            r->deleteLater();
        });
    };
    for (int i = 0; i < 4; ++i)
        preview();
    while (clock.elapsed() < 3000) {
        const int before = previews;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        for (int i = before; i < previews; ++i)
            preview();
    }
    report("previews of a 30-cell message, 4 clients at once",
           previews / (clock.elapsed() / 1000.0), "per s", "-", true);

    // A hundred clients, each 5 ms after the one before, queued on the line.
    QList<QNetworkReply *> hundred;
    for (int i = 0; i < 100; ++i) {
        hundred.append(post(net, url + QStringLiteral("/api/paineis/p/texto"), cookie,
                            QStringLiteral(R"({"texto":"%1"})").arg(i).toUtf8()));
        QElapsedTimer gap;
        gap.start();
        while (gap.elapsed() < 5)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    // Each answered: sent, or replaced by a newer text while it waited.
    int answered = 0, sent = 0;
    for (QNetworkReply *r : hundred) {
        wait(r);
        const QByteArray body = r->readAll();
        sent += body.contains("bem sucedida");
        answered += body.contains("bem sucedida") || body.contains("substitu");
    }
    QList<int> order; // the numbers as the panel got them (earlier frames left out)
    while ((order.isEmpty() || order.last() != 99) &&
           (panel.canReadLine() || panel.waitForReadyRead(5000))) {
        while (panel.canReadLine()) {
            const QString data = QString::fromUtf8(panel.readLine()).trimmed().section(u'L', -1);
            bool number = false;
            const int n = data.toInt(&number);
            if (number) order.append(n);
        }
    }
    const bool rising = std::is_sorted(order.cbegin(), order.cend()) && order.size() == sent &&
                        !order.isEmpty() && order.last() == 99;
    std::printf("100 clients: %d sent, %d replaced by a newer text\n", sent, answered - sent);
    report("100 clients on one panel: answered, frames in their order, the last text last",
           answered, "of 100", "100", answered == 100 && rising);
    server.terminate();
    server.waitForFinished();
    panel.terminate();
    direct.terminate();
    panel.waitForFinished();
    direct.waitForFinished();
    return 0;
}
