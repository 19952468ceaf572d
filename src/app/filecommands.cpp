#include "filecommands.h"

#include "documentwindow.h"
#include "messageedit.h"
#include "prompt.h"

#include <QPrinter>

void FileCommands::open()
{
    DocumentWindow *doc = m_new();
    const QString path =
        m_prompt.openFileName(DocumentWindow::kOpenTitle, DocumentWindow::kOpenFilter);
    if (!path.isEmpty() && doc) doc->load(path);
}

void FileCommands::openFile(const QString &path)
{
    if (DocumentWindow *doc = m_new()) doc->load(path);
}

void FileCommands::save()
{
    if (DocumentWindow *doc = m_active()) {
        doc->save();
        doc->editor()->setFocus();
    }
}

void FileCommands::saveAs()
{
    if (DocumentWindow *doc = m_active()) {
        doc->saveAs();
        doc->editor()->setFocus();
    }
}

void FileCommands::print()
{
    DocumentWindow *doc = m_active();
    if (!doc) return;
    QPrinter printer;
    bool selectionOnly = false;
    if (m_prompt.printSetup(printer, doc->editor()->textCursor().hasSelection(), &selectionOnly))
        doc->print(printer, selectionOnly);
}
