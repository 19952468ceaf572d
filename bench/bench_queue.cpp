// 5,000 texts at once for the panels of one line, through the API's route
// into the service (in-process, a fake line answering at once): every
// request answered, the queue bounded by the panels, each panel's last frame
// its last text, and the memory that costs.
#include "panelsend.h"
#include "benchutil.h"
#include "server/fakeservice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>

#include <sys/resource.h>

namespace
{
double peakMb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    InProcessService s;
    s.port->held = true; // the first exchange holds the line while the rest arrive
    constexpr int kRequests = 5000;
    int answered = 0, replaced = 0, maxWaiting = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kRequests; ++i) {
        const QString panel = i % 2 ? QStringLiteral("caixa") : QStringLiteral("entrada");
        const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("texto"),
                                                           QStringLiteral("Oferta %1").arg(i)}})
                                    .toJson(QJsonDocument::Compact);
        panelsend::sendToPanel(*s.service, panel, QStringLiteral("texto"), body,
                               QStringLiteral("bench"), [&](const HttpResponse &a) {
                                   ++answered;
                                   replaced += a.body.contains("substitu");
                               });
        maxWaiting = qMax(maxWaiting, s.service->stateJson()
                                          .value(QStringLiteral("linhas"))[0]
                                          .toObject()
                                          .value(QStringLiteral("fila"))
                                          .toInt());
    }
    s.port->held = false;
    s.port->release();
    while (answered < kRequests && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double seconds = double(clock.elapsed()) / 1000.0;
    const QStringList texts = s.port->texts();
    const bool lastIsLast = texts.filter(QStringLiteral("1:")).last() ==
                                QStringLiteral("1:LOferta %1").arg(kRequests - 2) &&
                            texts.filter(QStringLiteral("2:")).last() ==
                                QStringLiteral("2:LOferta %1").arg(kRequests - 1);
    std::printf("%d requests: %d answered (%d replaced), %lld frames, at most %d waiting, %.2f s\n",
                kRequests, answered, replaced, qlonglong(texts.size()), maxWaiting, seconds);
    report("5,000 texts for one line: every request answered", answered, "", "5000",
           answered == kRequests);
    report("5,000 texts for one line: the panels' last frames the last texts", lastIsLast, "", "1",
           lastIsLast);
    report("5,000 texts for one line: peak memory", peakMb(), "MB", "<= 64", peakMb() <= 64);
    return answered == kRequests && lastIsLast ? 0 : 1;
}
