#pragma once

#include <QString>
#include <QVector>

// The effect tags the editor inserts, menu by menu, in menu order. Every tag
// is thirteen characters: "<", an eleven-character name, ">".
namespace tags
{

constexpr int kLength = 13;

enum class Menu {
    Prefixos,  // "&Prefixos", items mnuprefixo
    Sufixos,   // "&Sufixos", items mnusufixo
    Outros,    // "&Outros", items mnuOutrosItem
    Sufixo,    // "&Sufixo" (hidden), items mnuSufixosItem
    Rolagem,   // "&Prefixo" (hidden) submenus, items mnurol ...
    RodaCima,  // mnuroda
    Neve,      // mnuneve
    VarreOnda, // mnuvarre
    Mostra,    // mnumostra
    Display,   // mnudsp
};

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
