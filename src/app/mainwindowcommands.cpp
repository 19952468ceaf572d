// The main window's editing commands: the colour, size and clipboard commands and the bars'
// toggles. Each acts on the active editor and does nothing without one.
#include "mainwindow.h"

#include "documentwindow.h"
#include "editcommands.h"
#include "formatrules.h"
#include "messageedit.h"
#include "statusbar.h"
#include "toolbar.h"

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QToolBar>

QList<QAction *> MainWindow::toolbarButtons() const
{
    return m_toolbar->actions();
}

void MainWindow::insertTag(tags::Menu menu, int index)
{
    if (DocumentWindow *doc = activeEditor())
        editcommands::insertTag(*doc->editor(), tags::tagFor(menu, index));
}

void MainWindow::colourGreen()
{
    if (DocumentWindow *doc = activeEditor()) editcommands::colour(*doc->editor(), colours::kGreen);
}

void MainWindow::colourRed()
{
    if (DocumentWindow *doc = activeEditor()) editcommands::colour(*doc->editor(), colours::kRed);
}

void MainWindow::colourOrange()
{
    if (DocumentWindow *doc = activeEditor())
        editcommands::colour(*doc->editor(), colours::kOrange);
}

void MainWindow::colourRainbow()
{
    if (DocumentWindow *doc = activeEditor()) editcommands::rainbow(*doc->editor());
}

void MainWindow::normalLetters()
{
    if (DocumentWindow *doc = activeEditor()) editcommands::setExpanded(*doc->editor(), false);
}

void MainWindow::expandedLetters()
{
    if (DocumentWindow *doc = activeEditor()) editcommands::setExpanded(*doc->editor(), true);
}

void MainWindow::cut()
{
    if (DocumentWindow *doc = activeEditor())
        editcommands::cut(*doc->editor(), *QApplication::clipboard());
}

void MainWindow::copy()
{
    if (DocumentWindow *doc = activeEditor())
        editcommands::copy(*doc->editor(), *QApplication::clipboard());
}

void MainWindow::paste()
{
    if (DocumentWindow *doc = activeEditor())
        editcommands::paste(*doc->editor(), *QApplication::clipboard());
}

void MainWindow::toggleToolbar()
{
    m_toolbar->setVisible(m_menus.mnuferra->isChecked());
}

void MainWindow::toggleStatusBar()
{
    m_status->setVisible(m_menus.mnustatus->isChecked());
}
