#include "prompt.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

void DialogPrompt::message(const QString &text)
{
    QMessageBox::information(m_parent, kProgramTitle, text);
}

void DialogPrompt::warning(const QString &text)
{
    QMessageBox::warning(m_parent, kProgramTitle, text);
}

bool DialogPrompt::confirm(const QString &text)
{
    return QMessageBox::question(m_parent, kProgramTitle, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

Prompt::Answer DialogPrompt::question(const QString &text)
{
    switch (QMessageBox::question(m_parent, kProgramTitle, text,
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                  QMessageBox::Yes)) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

QString DialogPrompt::qtFilter(const QString &filter)
{
    QString description = filter.section(QLatin1Char('|'), 0, 0);
    const QString pattern = filter.section(QLatin1Char('|'), 1, 1);
    // Qt reads the patterns between the last parentheses of the description.
    if (description.contains(QLatin1Char('('))) return description;
    return QStringLiteral("%1 (%2)").arg(description, pattern);
}

QString DialogPrompt::openFileName(const QString &title, const QString &filter,
                                   const QString &folder)
{
    return QFileDialog::getOpenFileName(m_parent, title, folder, qtFilter(filter));
}

QString DialogPrompt::saveFileName(const QString &title, const QString &filter,
                                   const QString &folder)
{
    QFileDialog dialog(m_parent, title, folder, qtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("msg"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

bool DialogPrompt::printSetup(QPrinter &printer, bool hasSelection, bool *selectionOnly)
{
    QPrintDialog dialog(&printer, m_parent);
    dialog.setWindowTitle(QStringLiteral("Imprimir"));
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, hasSelection);
    if (hasSelection) dialog.setPrintRange(QAbstractPrintDialog::Selection);
    if (dialog.exec() != QDialog::Accepted) return false;
    *selectionOnly = hasSelection && dialog.printRange() == QAbstractPrintDialog::Selection;
    return true;
}

void DialogPrompt::runDialog(QDialog &dialog)
{
    dialog.exec();
}
