#pragma once

#include "richtext.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// A text given to the API as the panel will have it: the same conversion as
// `letreiro-cli transfere --texto` and the same warnings ("avisos"), so the
// page, the API's answers and the preview never disagree with the panel.
namespace textcheck
{

// What differs between the text and what the panel receives, one plain
// sentence each; empty when nothing does.
QJsonArray warnings(const QString &text, int panelType);

// {"texto": what the panel receives, read back with tags by name,
//  "avisos": […], "caracteres": used, "limite": the most one send carries}
QJsonObject received(const QString &text, int panelType);

// What the panel receives, as a message the simulation plays.
RichText shown(const QString &text, int panelType);

// The effects of the desktop program's menus, in its words and order:
// [{"menu": "Prefixos", "efeitos": [{"tag": "<Roda_Cima__>",
//   "legenda": "Roda Cima", "tipos": [panel types that play it]}]}].
QJsonArray effectMenus();

} // namespace textcheck
