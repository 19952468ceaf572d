#pragma once

#include <QString>

#include <functional>

class DocumentWindow;
class Prompt;

// "&Abre", "&Salvar", "Salvar &Como" and "&Imprimir", acting on the active
// editor window. "&Novo" is the main window's newDocument.
class FileCommands
{
public:
    using NewDocument = std::function<DocumentWindow *()>;
    using ActiveDocument = std::function<DocumentWindow *()>;
    // Takes away a window that a file could not be read into.
    using Discard = std::function<void(DocumentWindow *)>;

    FileCommands(Prompt &prompt, NewDocument newDocument, ActiveDocument activeDocument,
                 Discard discard)
        : m_prompt(prompt), m_new(std::move(newDocument)), m_active(std::move(activeDocument)),
          m_discard(std::move(discard))
    {
    }

    // A new window first, so that a cancelled dialog leaves it open; a file
    // that cannot be read leaves none. The dialog starts in the folder last
    // used.
    void open();
    // As "&Abre" with the file already chosen (the command line, a drop,
    // the recent files).
    void openFile(const QString &path);
    void save();
    void saveAs();
    void print();

private:
    Prompt &m_prompt;
    NewDocument m_new;
    ActiveDocument m_active;
    Discard m_discard;
};
