#include "filecommands.h"

#include "documentwindow.h"
#include "messageedit.h"
#include "prompt.h"
#include "recentfiles.h"

#include <QPrinter>

void FileCommands::open()
{
    DocumentWindow *doc = m_new();
    const QString path = m_prompt.openFileName(DocumentWindow::kOpenTitle,
                                               DocumentWindow::kOpenFilter, recentfiles::lastFolder());
    if (!path.isEmpty() && doc && !doc->load(path)) m_discard(doc);
}

void FileCommands::openFile(const QString &path)
{
    DocumentWindow *doc = m_new();
    if (doc && !doc->load(path)) m_discard(doc);
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
