#pragma once

#include <QString>
#include <QVector>

class QAction;
class QToolBar;
class QWidget;
struct MenuBarActions;

// The main window's toolbar "tbToolBar": twenty buttons, each the menu's own
// command (one QAction, so enabling it enables both), with an image and a
// tooltip of its own, and the separators between groups.
struct ToolbarButton {
    QString key; // the button's name: "tb" + key
    QString tooltip;
    QString image;
    QAction *MenuBarActions::*command;
};

const QVector<ToolbarButton> &toolbarButtons();

QToolBar *buildToolbar(QWidget *parent, MenuBarActions &menus);
