// The main window's editing commands: the toolbar's dispatch by key, the
// tag, colour, size and clipboard commands and the bars' toggles. Each acts
// on the active editor and does nothing without one.
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

void MainWindow::toolbarButtonClick(const QString &key)
{
    const std::pair<const char *, std::function<void()>> handlers[] = {
        {"New", [this] { LoadNewDoc(); }},
        {"Open", [this] { m_fileCommands.open(); }},
        {"Save", [this] { m_fileCommands.save(); }},
        {"Print", [this] { m_fileCommands.print(); }},
        {"Cut", [this] { mnucortar_Click(); }},
        {"Copy", [this] { mnucopiar_Click(); }},
        {"Paste", [this] { mnucolar_Click(); }},
        {"sim", [this] { m_menus.mnusim->trigger(); }},
        {"verde", [this] { mnuverde_Click(); }},
        {"vermelho", [this] { mnuvermelho_Click(); }},
        {"laranja", [this] { mnularanja_Click(); }},
        {"iris", [this] { mnuiris_Click(); }},
        {"Para", [this] { m_menus.mnupara->trigger(); }},
        {"Apaga", [this] { m_menus.mnuapaga->trigger(); }},
        {"Inicia", [this] { m_menus.mnuinicia->trigger(); }},
        {"Transfere", [this] { m_menus.mnutransfere->trigger(); }},
        {"Hora", [this] { m_menus.mnuhora->trigger(); }},
        {"Data", [this] { m_menus.mnudata->trigger(); }},
        {"Debug", [this] { m_menus.mnudebug->trigger(); }},
        {"Dica", [this] { m_menus.mnudica->trigger(); }},
    };
    for (const auto &[name, handler] : handlers) {
        if (key == QLatin1String(name)) {
            handler();
            return;
        }
    }
}

void MainWindow::tagCommand(tags::Menu menu, int index)
{
    if (DocumentWindow *doc = activeEditor())
        editcommands::insertTag(*doc->editor(), tags::tagFor(menu, index));
}

void MainWindow::mnuverde_Click()
{
    if (DocumentWindow *doc = activeEditor()) editcommands::colour(*doc->editor(), colours::kGreen);
}

void MainWindow::mnuvermelho_Click()
{
    if (DocumentWindow *doc = activeEditor()) editcommands::colour(*doc->editor(), colours::kRed);
}

void MainWindow::mnularanja_Click()
{
    if (DocumentWindow *doc = activeEditor())
        editcommands::colour(*doc->editor(), colours::kOrange);
}

void MainWindow::mnuiris_Click()
{
    if (DocumentWindow *doc = activeEditor()) editcommands::rainbow(*doc->editor());
}

void MainWindow::mnunormal_Click()
{
    if (DocumentWindow *doc = activeEditor()) editcommands::setExpanded(*doc->editor(), false);
}

void MainWindow::mnuexp_Click()
{
    if (DocumentWindow *doc = activeEditor()) editcommands::setExpanded(*doc->editor(), true);
}

void MainWindow::mnucortar_Click()
{
    if (DocumentWindow *doc = activeEditor())
        editcommands::cut(*doc->editor(), *QApplication::clipboard());
}

void MainWindow::mnucopiar_Click()
{
    if (DocumentWindow *doc = activeEditor())
        editcommands::copy(*doc->editor(), *QApplication::clipboard());
}

void MainWindow::mnucolar_Click()
{
    if (DocumentWindow *doc = activeEditor())
        editcommands::paste(*doc->editor(), *QApplication::clipboard());
}

void MainWindow::mnuferra_Click()
{
    m_toolbar->setVisible(m_menus.mnuferra->isChecked());
}

void MainWindow::mnustatus_Click()
{
    m_status->setVisible(m_menus.mnustatus->isChecked());
}
