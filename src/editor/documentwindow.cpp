#include "documentwindow.h"

#include "messageedit.h"
#include "messagefile.h"
#include "prompt.h"
#include "rtfreader.h"
#include "rtfwriter.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QSaveFile>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

const QString DocumentWindow::kSaveTitle = QStringLiteral("Salvar");
const QString DocumentWindow::kSaveFilter = QStringLiteral("Arquivo de Mensagem(*.msg)|*.msg");
const QString DocumentWindow::kSaveAsTitle = QStringLiteral("Salvar Como");
const QString DocumentWindow::kSaveAsFilter = QStringLiteral("Arquivo de Mensagens (*.msg)|*.msg");
const QString DocumentWindow::kOpenTitle = QStringLiteral("Abrir");
const QString DocumentWindow::kOpenFilter = QStringLiteral("Arquivo de mensagem (*.msg)|*.msg");

DocumentWindow::DocumentWindow(Prompt &prompt, const QString &caption, QWidget *parent)
    : QWidget(parent), m_prompt(prompt), m_edit(new MessageEdit(this))
{
    setObjectName(QStringLiteral("frmDocument"));
    setWindowTitle(caption);
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    // 100 twips of margin around the text, as the window always had.
    const int margin = logicalDpiX() * 100 / 1440;
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->addWidget(m_edit);
}

bool DocumentWindow::isUntitled() const
{
    return caption().startsWith(QLatin1String("Documento"));
}

bool DocumentWindow::saved() const
{
    return !m_edit->document()->isModified();
}

void DocumentWindow::setFile(const QString &path)
{
    m_path = QFileInfo(path).absoluteFilePath();
    setWindowTitle(QFileInfo(path).fileName());
}

bool DocumentWindow::load(const QString &path)
{
    const RtfReadResult r = messagefile::read(path);
    if (!r.ok) {
        m_prompt.message(r.error + QLatin1Char('\n') + QDir::toNativeSeparators(path));
        return false;
    }
    m_edit->setRichText(r.text);
    setFile(path);
    return true;
}

bool DocumentWindow::saveTo(const QString &path)
{
    const QString why = messagefile::saveFile(path, writeRtf(m_edit->richText()));
    if (!why.isEmpty()) {
        m_prompt.message(QStringLiteral("Não foi possível salvar o arquivo %1.\n%2.")
                             .arg(QFileInfo(path).fileName(), why));
        return false;
    }
    setFile(path);
    m_edit->document()->setModified(false);
    return true;
}

bool DocumentWindow::save()
{
    if (!isUntitled() && !m_path.isEmpty()) return saveTo(m_path);
    const QString path = m_prompt.saveFileName(kSaveTitle, kSaveFilter);
    return !path.isEmpty() && saveTo(path);
}

bool DocumentWindow::saveAs()
{
    const QString path = m_prompt.saveFileName(kSaveAsTitle, kSaveAsFilter);
    return !path.isEmpty() && saveTo(path);
}

void DocumentWindow::print(QPrinter &printer, bool selectionOnly) const
{
    if (!selectionOnly) {
        m_edit->document()->print(&printer);
        return;
    }
    QTextDocument part;
    part.setDefaultFont(m_edit->document()->defaultFont());
    QTextCursor(&part).insertFragment(m_edit->textCursor().selection());
    part.print(&printer);
}

void DocumentWindow::closeEvent(QCloseEvent *e)
{
    if (saved()) {
        e->accept();
        return;
    }
    switch (m_prompt.question(
        QStringLiteral("Deseja salvar as alterações feitas ao arquivo %1 ?").arg(caption()))) {
    case Prompt::Answer::Yes:
        // A cancelled dialog or a failed save keeps the window and its text.
        if (save())
            e->accept();
        else
            e->ignore();
        return;
    case Prompt::Answer::No:
        e->accept();
        return;
    case Prompt::Answer::Cancel:
        e->ignore();
        return;
    }
}
