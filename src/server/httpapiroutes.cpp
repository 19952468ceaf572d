// The API's routes behind the login, on the main thread.
#include "apianswer.h"
#include "apiroutes.h"
#include "flatten.h"
#include "httpapi.h"
#include "letreiroservice.h"
#include "panelcommands.h"
#include "schedule.h"
#include "simperiod.h"
#include "simwidth.h"
#include "textcheck.h"
#include "threadhandoff.h"

#include <QDateTime>
#include <QUrlQuery>

namespace
{

// Previews waiting for a thread at once; beyond, the next is refused.
constexpr int kPreviewsWaiting = 4;

// The panel commands, for the page's buttons: the same table the API, the
// agenda and MQTT read.
QJsonArray commandTable()
{
    QJsonArray commands;
    for (const PanelCommand &c : panelCommands())
        commands.append(QJsonObject{{QStringLiteral("nome"), c.name},
                                    {QStringLiteral("linha_toda"), c.wholeLine}});
    return commands;
}

} // namespace

void HttpApi::routeApi(const HttpRequest &req, const QStringList &path, const QString &user,
                       const Reply &reply)
{
    const QString first = path.value(0);
    const bool get = req.method == "GET";
    const int n = int(path.size());
    if (n == 1 && first == QLatin1String("sair") && req.method == "POST") return logout(req, reply);
    if (n == 1 && first == QLatin1String("paineis") && get)
        return reply(apianswer::json(m_service.panelsJson()));
    if (n == 3 && first == QLatin1String("paineis") && req.method == "POST" &&
        QStringList{QStringLiteral("texto"), QStringLiteral("mensagem"), QStringLiteral("comando")}
            .contains(path[2]))
        return sendOnce(req, path, user, reply);
    if (n == 1 && first == QLatin1String("comandos") && get)
        return reply(apianswer::json(commandTable()));
    if (n == 1 && first == QLatin1String("estado") && get)
        return reply(apiroutes::state(m_service));
    if (n == 1 && first == QLatin1String("efeitos") && get)
        return reply(apianswer::json(textcheck::effectMenus()));
    if (n == 1 && first == QLatin1String("mensagens") && get) {
        QJsonArray names;
        for (const QString &name : m_library.names())
            names.append(name);
        return reply(apianswer::json(names));
    }
    if (n == 2 && first == QLatin1String("mensagens") && (get || req.method == "PUT")) {
        if (get) {
            const MessageLibrary::Outcome f = m_library.read(path[1]);
            return reply(f.ok() ? apianswer::bytes(f.data, "application/rtf")
                                : apianswer::error(f.status, f.error));
        }
        if (!readRtf(req.body).ok)
            return reply(
                apianswer::error(400, QStringLiteral("o conteúdo não é uma mensagem RTF")));
        const MessageLibrary::Outcome saved = m_library.save(path[1], req.body);
        return reply(saved.ok() ? apianswer::json(QJsonObject{{QStringLiteral("ok"), true}})
                                : apianswer::error(saved.status, saved.error));
    }
    if (n == 1 && first == QLatin1String("previa") && get) return preview(req, reply);
    if (n == 1 && first == QLatin1String("agenda") && get)
        return reply(apianswer::json(agendaJson()));
    if (n == 1 && first == QLatin1String("agenda") && req.method == "PUT")
        return putSchedule(req, reply);
    if (n == 1 && first == QLatin1String("historico") && get)
        return reply(apianswer::json(m_service.historyJson()));
    if (!routePage(req, path, user, reply))
        reply(apianswer::error(404, QStringLiteral("não encontrado")));
}

void HttpApi::preview(const HttpRequest &req, const Reply &reply)
{
    const QUrlQuery q(QString::fromUtf8(req.target.mid(req.target.indexOf('?') + 1)));
    const auto param = [&](const char *key) {
        return q.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
    };
    const QString typed = param("texto");
    const int type = panelType(param("painel"));
    if (param("formato") == QLatin1String("json"))
        return reply(apianswer::json(textcheck::received(typed, type)));
    bool ok = false;
    const int width = param("largura").toInt(&ok);
    const double seconds = q.hasQueryItem(QStringLiteral("ate")) ? param("ate").toDouble() : 30.0;
    if (!req.target.contains('?') || !ok || !simwidth::isSupported(width) ||
        !(seconds > 0 && seconds <= 600))
        return reply(apianswer::error(
            400, QStringLiteral("largura (5, 6, 9, 12, 15 ou 30) ou ate (até 600 s) inválidos")));
    // Beyond the threads' work and a few waiting, the next one is refused:
    // a queue without end would only answer later what nobody waits for.
    if (m_previewsInHand >= m_previewPool.maxThreadCount() + kPreviewsWaiting)
        return reply(apianswer::busy());
    ++m_previewsInHand;
    const bool fromLibrary = q.hasQueryItem(QStringLiteral("arquivo"));
    // A typed text as the panel will receive it, not as it was typed.
    const RichText typedMessage = fromLibrary ? RichText() : textcheck::shown(typed, type);
    // Reading a library message (up to 4 MB of RTF) and animating it take
    // seconds of CPU: on the previews' own threads. The library is only a
    // folder's name: a copy reads the file by name, as any thread may.
    handoff::start(&m_previewPool, [this, library = m_library, file = param("arquivo"), fromLibrary,
                                    typedMessage, width, seconds, reply] {
        HttpResponse answer;
        RtfReadResult r;
        int status = 200;
        if (fromLibrary) r = library.message(file, &status);
        if (fromLibrary && !r.ok)
            answer = apianswer::error(status, r.error);
        else
            answer = apianswer::bytes(messageAnimation(fromLibrary ? r.text : typedMessage, width,
                                                       qint64(seconds * 1000),
                                                       QDateTime::currentDateTime(), 20000),
                                      "image/svg+xml");
        // Counted out before the answer leaves: a client that asks again at
        // once finds the room it left.
        handoff::queue(m_context, [this] { --m_previewsInHand; });
        reply(answer);
    });
}

// The editable entries, whole: [{"nome", "quando", "dias" | "datas",
// "paineis", "texto" | "mensagem" | "comando"}], as in the INI file.
void HttpApi::putSchedule(const HttpRequest &req, const Reply &reply)
{
    const QJsonDocument d = QJsonDocument::fromJson(req.body);
    if (!d.isArray())
        return reply(apianswer::error(400, QStringLiteral("esperava uma lista de entradas")));
    QList<ScheduleEntry> entries;
    QString why;
    for (const QJsonValue &v : d.array()) {
        const auto e = ScheduleEntry::fromJson(v.toObject(), &why);
        if (!e) break;
        entries.append(*e);
    }
    // Beyond the file's bounds, not an agenda any start would read back.
    if (const QString tooBig = ServerConfig::scheduleTooBig(entries);
        why.isEmpty() && !tooBig.isEmpty())
        return reply(apianswer::error(413, tooBig));
    if (why.isEmpty()) m_service.config().checkSchedule(entries, &why);
    if (!why.isEmpty()) return reply(apianswer::error(400, why));
    // Valid, so what fails now is the disk: the server's fault, not the client's.
    if (!m_service.setSchedule(entries, &why))
        return reply(
            apianswer::error(500, why.isEmpty() ? QStringLiteral("agenda não gravada") : why));
    reply(apianswer::json(agendaJson()));
}
