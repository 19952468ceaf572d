#pragma once

#include <QString>
#include <QVector>

#include <functional>

class QAction;
class QToolBar;
class QWidget;

// The main window's toolbar "tbToolBar": twenty buttons, each with a key,
// a tooltip and an image, and the separators between groups. A click hands
// the button's key to the dispatcher, which runs the menu command's handler.
struct ToolbarButton {
    QString key;
    QString tooltip;
    QString image;
};

const QVector<ToolbarButton> &toolbarButtons();

// `buttons` receives all 29 entries, separators included, in order, so that
// buttons can be addressed by their number (counted from 1).
QToolBar *buildToolbar(QWidget *parent, const std::function<void(const QString &key)> &onClick,
                       QVector<QAction *> *buttons);

// The buttons "Para" to "Data": numbers 20 to 25.
constexpr int kFirstTransmissionButton = 20;
constexpr int kLastTransmissionButton = 25;
