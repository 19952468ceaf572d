#pragma once

#include "richtext.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// How a panel's part of a send ended, in the one vocabulary every door
// speaks (API, MQTT, history, page): enviado, falhou, substituído,
// expirado, recusado, parando.
enum class SendEnd {
    Sent,     // the panel acknowledged it
    Failed,   // the exchange took place and went wrong
    Replaced, // a newer text for the panel took its place while it waited
    Expired,  // its deadline passed before its frame started
    Refused,  // nothing was sent: see SendResult::refusal
    Stopping  // the service stopped before it ran
};
QString sendWord(SendEnd end);

// One request to several panels: a text, a library message or a command.
struct SendRequest {
    enum class Kind { Text, Message, Command };
    Kind kind = Kind::Text;
    QStringList panels; // empty: every panel of the site
    QString value;      // the text, the library message's name, or the command
    // A library message already read (a door may read a big one off its
    // thread); otherwise it is read by `value`.
    std::optional<RichText> message;
    QString who;           // "ana", "mqtt", "agenda promo"
    qint64 deadlineMs = 0; // on the service clock's monotonic ms; 0: as long as it takes
    bool strict = false;   // refused, not sent, when the panel would show it otherwise
};

struct PanelSend {
    QString panel;
    SendEnd end = SendEnd::Sent;
    QString reason; // empty when sent
};

// The result of a send: one row per panel and their rollup, which keeps
// the first panel (in the request's order) that did not end as sent.
struct SendResult {
    // Why a send was refused before anything reached a line, for a door to
    // say in its own terms (an HTTP status).
    enum class Refusal {
        None,
        Unknown, // a panel, command or message that does not exist
        Invalid, // an empty text, a name that is not allowed
        Strict,  // `estrito`, and the panel would show it otherwise
        Full     // the line already holds as many requests as it takes
    };
    SendEnd end = SendEnd::Sent;
    Refusal refusal = Refusal::None;
    QString reason;
    QStringList warnings; // "avisos": what the panels receive otherwise than asked
    QList<PanelSend> panels;

    bool ok() const { return end == SendEnd::Sent; }
    // Whether a stop left some panel's part undone.
    bool interrupted() const;
    // {"ok", "resultado", "motivo"?, "avisos"?, "paineis": [{"painel",
    // "resultado", "motivo"?}]}
    QJsonObject json() const;

    static SendResult refused(Refusal why, QString reason, QStringList warnings = {});
    // The rows rolled up: the first not sent gives the end and the reason
    // (named after its panel when there are several).
    static SendResult rollUp(QList<PanelSend> panels, QStringList warnings);
};
