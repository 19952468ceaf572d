#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

// The service's log, by part, so that an administrator keeps what matters
// with QT_LOGGING_RULES (e.g. "letreiro.relay.info=false"):
Q_DECLARE_LOGGING_CATEGORY(lcHttp)    // letreiro.http: logins, the engine, proxies
Q_DECLARE_LOGGING_CATEGORY(lcMqtt)    // letreiro.mqtt: the broker and its refusals
Q_DECLARE_LOGGING_CATEGORY(lcRelay)   // letreiro.relay: relay clients
Q_DECLARE_LOGGING_CATEGORY(lcLine)    // letreiro.linha: ports and lines
Q_DECLARE_LOGGING_CATEGORY(lcAgenda)  // letreiro.agenda: entries, late runs
Q_DECLARE_LOGGING_CATEGORY(lcState)   // letreiro.estado: files of the state
Q_DECLARE_LOGGING_CATEGORY(lcSede)    // letreiro.sede: the head office, its link and its sends

namespace logging
{
// Writes each line as "<N>letreiro.part: text" when standard error goes to
// the journal (it reads N as the priority), and as "letreiro-servidor:
// text" otherwise.
void install();

// Anything that came from outside (a payload, a topic, a user or file name,
// an address), made safe for one line of the log: control and invisible
// characters as \xNN or \uNNNN, bytes that are not UTF-8 as \xNN, at most
// `limit` characters and then "…". A forged line cannot be written.
QString printable(QStringView text, int limit = 200);
// Control, formatting, line and paragraph separators, surrogates, private
// use and unassigned: what a name or a log line must not carry as it is.
bool isInvisible(char32_t c);
QString printable(const QByteArray &bytes, int limit = 200);
} // namespace logging
