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
// carry their index in QAction::data(). The file, undo and help commands
// have the shortcut keys of desktop programs (Ctrl+N, Ctrl+O, Ctrl+S,
// Ctrl+P, Ctrl+Z, Ctrl+Y and Ctrl+Shift+Z, F1). Ctrl+F4 is the message
// window's own close key (each window of the MDI area has it).
struct MenuBarActions {
    QMenu *mnuFile, *mnueditar, *mnuvisu, *mnucor, *mnuprefixos, *mnusufixos, *mnuprefi, *mnusufix,
        *mnuoutros, *mnucar, *mnutrans, *mnuWindow;
    QAction *mnunovo, *mnuabre, *mnusalva, *mnusalvacomo, *mnuimp, *mnuconfig, *mnuFileExit;
    QAction *mnudesfazer, *mnurefazer, *mnucortar, *mnucopiar, *mnucolar;
    QAction *mnusim, *mnuferra, *mnustatus;
    QAction *mnuverde, *mnuvermelho, *mnularanja, *mnuiris;
    QAction *mnunormal, *mnuexp;
    QAction *mnupara, *mnuapaga, *mnuinicia, *mnutransfere, *mnuhora, *mnudata;
    QAction *mnudica, *mnudebug, *mnuHelpAbout, *mnuajuda;
    // "&1 nome.msg" ... the recent files, before "Sai&r"; filled by the
    // main window, hidden while unused.
    QVector<QAction *> recentFiles;
    QAction *recentSeparator;
    QAction *mnuWindowCascade, *mnuWindowTileHorizontal, *mnuWindowTileVertical;
    QHash<tags::Menu, QVector<QAction *>> tagItems;
};

MenuBarActions buildMenuBar(QMenuBar *bar);

// Shows the tag commands that the panel offers and hides the rest. Nothing
// else shows a hidden item while the main window stays loaded.
void applyMenuVisibility(MenuBarActions &menus, const MenuVisibility &visibility);
