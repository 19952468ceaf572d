#pragma once

#include "vocabulary.h"

#include <QString>
#include <QVector>

// The effect tags the editor inserts, menu by menu, in menu order, as the
// vocabulary lists them; here only what the menus add (control names, the
// captions of the "&Prefixo" submenus).
namespace tags
{

using Menu = vocabulary::Menu;

struct Item {
    QString caption; // "&" marks the accelerator
    QString tag;
};

// The items of a menu, index by index.
const QVector<Item> &items(Menu menu);
// The tag of a menu item, or an empty text for an index outside the menu.
QString tagFor(Menu menu, int index);
// The control name of the menu's items ("mnuprefixo" and so on).
QString controlName(Menu menu);
// The caption of a "&Prefixo" submenu (Table E), empty for other menus.
QString submenuCaption(Menu menu);
// Every distinct tag of the vocabulary (52).
QStringList all();

} // namespace tags
