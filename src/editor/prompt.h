#pragma once

#include <QString>

class QDialog;
class QPrinter;
class QWidget;

// Everything that asks the operator something goes through here, so that
// tests can answer in its place and never hang on a modal box.
class Prompt
{
public:
    enum class Answer { Yes, No, Cancel };

    virtual ~Prompt() = default;
    // A message box with one OK button and the program's title.
    virtual void message(const QString &text) = 0;
    // The same for something that went wrong: the warning icon.
    virtual void warning(const QString &text) { message(text); }
    // "Sim" or "Não"; true for "Sim".
    virtual bool confirm(const QString &text) = 0;
    // Yes, No and Cancel.
    virtual Answer question(const QString &text) = 0;
    // The chosen file, or an empty text when cancelled. The filter is given
    // as the program has always written it: "description|pattern".
    // Both dialogs start in `folder` when one is given; a file's path
    // there is a name offered in its folder.
    virtual QString openFileName(const QString &title, const QString &filter,
                                 const QString &folder = QString()) = 0;
    virtual QString saveFileName(const QString &title, const QString &filter,
                                 const QString &folder = QString()) = 0;
    // The print dialog; false when cancelled. *selectionOnly says whether to
    // print the selection, which is offered when there is one.
    virtual bool printSetup(QPrinter &printer, bool hasSelection, bool *selectionOnly) = 0;
    // Shows one of the program's own modal windows (tips, About).
    virtual void runDialog(QDialog &dialog) = 0;
};

// The real dialogs, owned by a parent window.
class DialogPrompt : public Prompt
{
public:
    explicit DialogPrompt(QWidget *parent) : m_parent(parent) {}
    void message(const QString &text) override;
    void warning(const QString &text) override;
    bool confirm(const QString &text) override;
    Answer question(const QString &text) override;
    QString openFileName(const QString &title, const QString &filter,
                         const QString &folder = QString()) override;
    QString saveFileName(const QString &title, const QString &filter,
                         const QString &folder = QString()) override;
    bool printSetup(QPrinter &printer, bool hasSelection, bool *selectionOnly) override;
    void runDialog(QDialog &dialog) override;

    // "Arquivo de Mensagem(*.msg)|*.msg" in Qt's form.
    static QString qtFilter(const QString &filter);

private:
    QWidget *m_parent;
};

inline const QString kProgramTitle = QStringLiteral("Letreiro");
