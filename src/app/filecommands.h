#pragma once

#include <QString>

#include <functional>

class DocumentWindow;
class Prompt;

// "&Abre", "&Salvar", "Salvar &Como" and "&Imprimir", acting on the active
// editor window. "&Novo" is the main window's LoadNewDoc.
class FileCommands
{
public:
    using NewDocument = std::function<DocumentWindow *()>;
    using ActiveDocument = std::function<DocumentWindow *()>;

    FileCommands(Prompt &prompt, NewDocument newDocument, ActiveDocument activeDocument)
        : m_prompt(prompt), m_new(std::move(newDocument)), m_active(std::move(activeDocument))
    {
    }

    // A new window first, so that a cancelled dialog leaves it open.
    void open();
    // As "&Abre" with the file already chosen (files given at start).
    void openFile(const QString &path);
    void save();
    void saveAs();
    void print();

private:
    Prompt &m_prompt;
    NewDocument m_new;
    ActiveDocument m_active;
};
