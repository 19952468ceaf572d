// The API's routes behind the login, on the main thread, and the page's
// own questions (who is signed in, what a text becomes on a panel).
#include "apianswer.h"
#include "httpapi.h"
#include "letreiroservice.h"
#include "panelsend.h"
#include "rtfreader.h"
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

} // namespace

int HttpApi::panelType(const QString &panel) const
{
    const ServerConfig::Panel *p = m_service.config().panel(panel);
    return p ? p->type : 0;
}

QJsonArray HttpApi::agendaJson() const
{
    // Each text entry says what its panels would receive otherwise.
    return textcheck::withWarnings(m_service.scheduleJson(),
                                   [this](const QString &panel) { return panelType(panel); });
}

bool HttpApi::routePage(const HttpRequest &req, const QStringList &path, const QString &user,
                        const Reply &reply)
{
    const QString first = path.value(0);
    if (path.size() != 1) return false;
    if (first == QLatin1String("sessao") && req.method == "GET") {
        reply(apianswer::json(QJsonObject{{QStringLiteral("usuario"), user}}));
        return true;
    }
    // The page asks while the text is typed: a body holds a text of any
    // length, where an address would not.
    if (first == QLatin1String("previa") && req.method == "POST") {
        const auto o = apianswer::object(req.body);
        reply(o ? apianswer::json(
                      textcheck::received(o->value(QStringLiteral("texto")).toString(),
                                          panelType(o->value(QStringLiteral("painel")).toString())))
                : apianswer::error(400, QStringLiteral("JSON inválido")));
        return true;
    }
    return false;
}

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
        return reply(apianswer::json(textcheck::commandTable()));
    if (n == 1 && first == QLatin1String("estado") && get)
        return reply(panelsend::state(m_service));
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
            const Result<QByteArray> f = m_library.read(path[1]);
            return reply(f ? apianswer::bytes(*f, "application/rtf") : apianswer::failure(f.failure()));
        }
        if (!readRtf(req.body).ok)
            return reply(
                apianswer::error(400, QStringLiteral("o conteúdo não é uma mensagem RTF")));
        const Result<> saved = m_library.save(path[1], req.body);
        return reply(saved ? apianswer::json(QJsonObject{{QStringLiteral("ok"), true}})
                           : apianswer::failure(saved.failure()));
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

namespace
{
// The same moment at its offset from UTC: read on another thread, it needs
// no time zone.
QDateTime fixedOffset(const QDateTime &t)
{
    return t.toOffsetFromUtc(t.offsetFromUtc());
}
} // namespace

void HttpApi::preview(const HttpRequest &req, const Reply &reply)
{
    // A query as forms and URLSearchParams write it: "+" is a space (a plus
    // itself comes as %2B).
    QByteArray query = req.target.mid(req.target.indexOf('?') + 1);
    query.replace('+', "%20");
    const QUrlQuery q(QString::fromUtf8(query));
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
    if (m_previewsInHand >= m_pools.preview->maxThreadCount() + kPreviewsWaiting)
        return reply(apianswer::busy());
    ++m_previewsInHand;
    const bool fromLibrary = q.hasQueryItem(QStringLiteral("arquivo"));
    // A typed text as the panel will receive it, not as it was typed.
    const RichText typedMessage = fromLibrary ? RichText() : textcheck::shown(typed, type);
    // Reading a library message (up to 4 MB of RTF) and animating it take
    // seconds of CPU: on the previews' own threads. The library is only a
    // folder's name: a copy reads the file by name, as any thread may.
    // The clock and date effects show the service's time, read here: the
    // local time zone is not to be read from two threads at once.
    handoff::start(m_pools.preview, [this, library = m_library, file = param("arquivo"), fromLibrary,
                                    typedMessage, width, seconds, reply,
                                    now = fixedOffset(m_service.clock().now())] {
        HttpResponse answer;
        const Result<RichText> r = fromLibrary ? library.message(file) : Result<RichText>(typedMessage);
        if (!r)
            answer = apianswer::failure(r.failure());
        else
            answer = apianswer::bytes(messageAnimation(r.value(), width,
                                                       qint64(seconds * 1000),
                                                       now, 20000),
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
    if (const Result<> saved = m_service.setSchedule(entries); !saved)
        return reply(apianswer::failure(saved.failure()));
    reply(apianswer::json(agendaJson()));
}
