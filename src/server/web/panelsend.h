#pragma once

#include "httpengine.h"
#include "result.h"
#include "richtext.h"

#include <QString>

#include <functional>

class LetreiroService;

// The API's doors to the spine: a request's JSON turned into a send, and
// the service's state and health.
namespace panelsend
{
// An API request waits this long for its line before it answers 504 (a
// browser or a proxy in front has given up by then).
constexpr qint64 kWaitForLineMs = 60000;

// Reads a library message (off the service's thread: a big one takes a
// while to parse), then calls `then` on the service's thread.
using ReadThen = std::function<void(const Result<RichText> &)>;
using MessageReader = std::function<void(const QString &name, const ReadThen &then)>;

// POST /api/paineis/PANEL/(texto|mensagem|comando), JSON body.
void sendToPanel(LetreiroService &service, const QString &panel, const QString &kind,
                 const QByteArray &body, const QString &user,
                 const std::function<void(const HttpResponse &)> &answer,
                 const MessageReader &read = {});
// GET /api/estado
HttpResponse state(const LetreiroService &service);
// GET /api/saude, without login; safe from any thread.
HttpResponse health(const LetreiroService &service);
} // namespace panelsend
