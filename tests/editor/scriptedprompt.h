#pragma once

#include "prompt.h"

#include <QDialog>
#include <QPrinter>
#include <QQueue>
#include <QStringList>

#include <functional>

// Answers in place of the operator, in order, and remembers what was asked.
class ScriptedPrompt : public Prompt
{
public:
    void message(const QString &text) override { messages.append(text); }
    void warning(const QString &text) override
    {
        messages.append(text);
        warnings.append(text);
    }
    bool confirm(const QString &text) override { return question(text) == Answer::Yes; }
    Answer question(const QString &text) override
    {
        questions.append(text);
        return answers.isEmpty() ? Answer::Cancel : answers.dequeue();
    }
    QString openFileName(const QString &title, const QString &filter,
                         const QString &folder = QString()) override
    {
        dialogs.append(title + '|' + filter);
        folders.append(folder);
        return files.isEmpty() ? QString() : files.dequeue();
    }
    QString saveFileName(const QString &title, const QString &filter,
                         const QString &folder = QString()) override
    {
        return openFileName(title, filter, folder);
    }
    bool printSetup(QPrinter &printer, bool hasSelection, bool *selectionOnly) override
    {
        dialogs.append(QStringLiteral("Imprimir|%1").arg(hasSelection));
        if (printTo.isEmpty()) return false;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(printTo);
        *selectionOnly = hasSelection;
        return true;
    }

    void runDialog(QDialog &dialog) override
    {
        dialogs.append(dialog.objectName());
        if (onDialog) onDialog(dialog);
    }
    // What the operator does in a dialog the program runs.
    std::function<void(QDialog &)> onDialog;

    QQueue<Answer> answers;
    QQueue<QString> files;
    QString printTo;
    QStringList messages, warnings, questions, dialogs, folders;
};
