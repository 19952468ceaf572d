#pragma once

#include "prompt.h"

#include <QDialog>
#include <QPrinter>
#include <QQueue>
#include <QStringList>

// Answers in place of the operator, in order, and remembers what was asked.
class ScriptedPrompt : public Prompt
{
public:
    void message(const QString &text) override { messages.append(text); }
    Answer question(const QString &text) override
    {
        questions.append(text);
        return answers.isEmpty() ? Answer::Cancel : answers.dequeue();
    }
    QString openFileName(const QString &title, const QString &filter) override
    {
        dialogs.append(title + '|' + filter);
        return files.isEmpty() ? QString() : files.dequeue();
    }
    QString saveFileName(const QString &title, const QString &filter) override
    {
        return openFileName(title, filter);
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

    void runDialog(QDialog &dialog) override { dialogs.append(dialog.objectName()); }

    QQueue<Answer> answers;
    QQueue<QString> files;
    QString printTo;
    QStringList messages, questions, dialogs;
};
