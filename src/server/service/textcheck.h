#pragma once

#include "richtext.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <functional>

// A text given to the API as the panel will have it: the same conversion as
// `letreiro-cli transfere --texto` and the same warnings ("avisos"), so the
// page, the API's answers and the preview never disagree with the panel.
namespace textcheck
{

// What differs between the text and what the panel receives, one plain
// sentence each; empty when nothing does. The one text policy of every
// door: a text too long is cut (and said), control characters are said,
// and a strict request refuses whatever is said.
QStringList differences(const RichText &message, int panelType);
QJsonArray warnings(const QString &text, int panelType);
QJsonArray warnings(const RichText &message, int panelType);

// The agenda's entries (as GET /api/agenda gives them), each text entry
// with its "avisos" for the type of its first panel (`typeOf` a name).
QJsonArray withWarnings(QJsonArray entries, const std::function<int(const QString &)> &typeOf);

// {"texto": what the panel receives, read back with tags by name,
//  "avisos": […], "caracteres": used, "limite": the most one send carries}
QJsonObject received(const QString &text, int panelType);

// What the panel receives, as a message the simulation plays.
RichText shown(const QString &text, int panelType);

// The effects of the desktop program's menus, in its words and order:
// [{"menu": "Prefixos", "efeitos": [{"tag": "<Roda_Cima__>",
//   "legenda": "Roda Cima", "tipos": [panel types that play it]}]}].
QJsonArray effectMenus();

// The panel commands, for the page's buttons: [{"nome", "linha_toda"}],
// from the one table the API, the agenda and MQTT read.
QJsonArray commandTable();

} // namespace textcheck
