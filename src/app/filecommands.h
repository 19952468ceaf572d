#pragma once

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
    void save();
    void saveAs();
    void print();

private:
    Prompt &m_prompt;
    NewDocument m_new;
    ActiveDocument m_active;
};
