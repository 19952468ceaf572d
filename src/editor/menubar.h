#pragma once

#include "formatrules.h"
#include "tags.h"

#include <QHash>
#include <QVector>

class QAction;
class QMenu;
class QMenuBar;

// The main window's menu bar, built from the tag table. Every action's
// objectName is its control name; items of one array share the name and
// carry their index in QAction::data(). No command has a shortcut key.
struct MenuBarActions {
    QMenu *mnuFile, *mnueditar, *mnuvisu, *mnucor, *mnuprefixos, *mnusufixos, *mnuprefi, *mnusufix,
        *mnuoutros, *mnucar, *mnutrans, *mnuWindow;
    QAction *mnunovo, *mnuabre, *mnusalva, *mnusalvacomo, *mnuimp, *mnuconfig, *mnuFileExit;
    QAction *mnucortar, *mnucopiar, *mnucolar;
    QAction *mnusim, *mnuferra, *mnustatus;
    QAction *mnuverde, *mnuvermelho, *mnularanja, *mnuiris;
    QAction *mnunormal, *mnuexp;
    QAction *mnupara, *mnuapaga, *mnuinicia, *mnutransfere, *mnuhora, *mnudata;
    QAction *mnudica, *mnudebug, *mnuHelpAbout;
    QAction *mnuWindowCascade, *mnuWindowTileHorizontal, *mnuWindowTileVertical;
    // The window list of "&Janela" goes after this separator.
    QAction *windowListSeparator;
    QHash<tags::Menu, QVector<QAction *>> tagItems;
};

MenuBarActions buildMenuBar(QMenuBar *bar);

// Shows the tag commands that the panel offers and hides the rest. Nothing
// else shows a hidden item while the main window stays loaded.
void applyMenuVisibility(MenuBarActions &menus, const MenuVisibility &visibility);
