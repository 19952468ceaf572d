#pragma once

#include "apianswer.h"
#include "rtfreader.h"

#include <QString>

#include <functional>

class LetreiroService;

// What a route answers, whatever carries it: the engine's response.
using ApiAnswer = HttpResponse;

// The routes that reach the lines, on plain request data, run on the
// service's thread; `answer` is called once, perhaps later.
namespace apiroutes
{
// An API request waits this long for its line before it answers 504 (a
// browser or a proxy in front has given up by then).
constexpr qint64 kWaitForLineMs = 60000;

// A library message read, then `then` called on the service's thread with
// it (and the status that goes with a failure).
using ReadThen = std::function<void(const RtfReadResult &, int status)>;
using MessageReader = std::function<void(const QString &name, const ReadThen &then)>;

// POST /api/paineis/PANEL/(texto|mensagem|comando), JSON body. A message is
// read with `read` when there is one (off the service's thread: a big one
// takes a while to parse), else here.
void sendToPanel(LetreiroService &service, const QString &panel, const QString &kind,
                 const QByteArray &body, const QString &user,
                 const std::function<void(const ApiAnswer &)> &answer,
                 const MessageReader &read = {});
// GET /api/estado
ApiAnswer state(const LetreiroService &service);
// GET /api/saude, without login; safe from any thread.
ApiAnswer health(const LetreiroService &service);
} // namespace apiroutes
