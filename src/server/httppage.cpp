// The page's side of the API: who is signed in, what a text becomes on a
// panel (the warnings while typing), one send per click, and the agenda
// with the warnings of its texts.
#include "apianswer.h"
#include "apiroutes.h"
#include "httpapi.h"
#include "letreiroservice.h"
#include "textcheck.h"
#include "threadhandoff.h"

#include <memory>

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

void HttpApi::sendOnce(const HttpRequest &req, const QStringList &path, const QString &user,
                       const Reply &reply)
{
    // One click, one send: a key seen before (for this user and route) gets
    // the first answer again, and nothing is sent twice.
    const QByteArray key = req.header("idempotency-key");
    if (key.size() > 200)
        return reply(apianswer::error(400, QStringLiteral("Idempotency-Key longa demais")));
    const QString panel = path[1], kind = path[2];
    const QByteArray body = req.body;
    m_idempotency.runLater(
        key.isEmpty() ? QString()
                      : user + u' ' + QString::fromUtf8(req.target.split('?').first()) + u' ' +
                            QString::fromUtf8(key),
        [this, panel, kind, body, user](IdempotencyCache::Done done) {
            apiroutes::sendToPanel(
                m_service, panel, kind, body, user,
                [done](const HttpResponse &r) {
                    done({r.status, r.body});
                },
                [this](const QString &name, const apiroutes::ReadThen &then) {
                    // A 4 MB message takes a while to parse: not on the
                    // thread every other request waits for.
                    handoff::start(&m_libraryPool, [this, library = m_library, name, then] {
                        int status = 0;
                        auto r = std::make_shared<RtfReadResult>(library.message(name, &status));
                        handoff::queue(m_context, [r, status, then] { then(*r, status); });
                    });
                });
        },
        [reply](const IdempotencyCache::Answer &a) {
            HttpResponse r = apianswer::bytes(a.body, "application/json; charset=utf-8");
            r.status = a.status;
            reply(r);
        });
}
