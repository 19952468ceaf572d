// One click, one send: what every API client's send to a panel goes
// through, once per Idempotency-Key.
#include "apianswer.h"
#include "httpapi.h"
#include "panelsend.h"
#include "threadhandoff.h"

#include <memory>

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
            panelsend::sendToPanel(
                m_service, panel, kind, body, user,
                [done](const HttpResponse &r) {
                    done({r.status, r.body});
                },
                [this](const QString &name, const panelsend::ReadThen &then) {
                    // A 4 MB message takes a while to parse: not on the
                    // thread every other request waits for.
                    handoff::start(m_pools.library, [this, library = m_library, name, then] {
                        auto r = std::make_shared<Result<RichText>>(library.message(name));
                        handoff::queue(m_context, [r, then] { then(*r); });
                    });
                });
        },
        [reply](const IdempotencyCache::Answer &a) {
            HttpResponse r = apianswer::bytes(a.body, "application/json; charset=utf-8");
            r.status = a.status;
            reply(r);
        });
}
