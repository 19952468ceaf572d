#include "documentwindow.h"

#include "messageedit.h"
#include "messagefile.h"
#include "prompt.h"
#include "recentfiles.h"
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
    setCaption(caption);
    // The caption carries a "*" while there are changes to save.
    connect(m_edit->document(), &QTextDocument::modificationChanged, this,
            &QWidget::setWindowModified);
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    // 100 twips of margin around the text, as the window always had.
    const int margin = logicalDpiX() * 100 / 1440;
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->addWidget(m_edit);
}

void DocumentWindow::setCaption(const QString &caption)
{
    m_caption = caption;
    // "[*]" is where Qt shows the mark; a "[*]" of the name itself is doubled.
    setWindowTitle(QString(caption).replace(QLatin1String("[*]"), QLatin1String("[*][*]")) +
                   QLatin1String("[*]"));
}

bool DocumentWindow::saved() const
{
    return !m_edit->document()->isModified();
}

void DocumentWindow::setFile(const QString &path)
{
    m_path = QFileInfo(path).absoluteFilePath();
    setCaption(QFileInfo(path).fileName());
    recentfiles::add(m_path);
    Q_EMIT fileUsed(m_path);
}

bool DocumentWindow::load(const QString &path)
{
    const RtfReadResult r = messagefile::read(path);
    if (!r.ok) {
        m_prompt.warning(r.error + QLatin1Char('\n') + QDir::toNativeSeparators(path));
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
        m_prompt.warning(QStringLiteral("Não foi possível salvar o arquivo %1.\n%2.")
                             .arg(QFileInfo(path).fileName(), why));
        return false;
    }
    setFile(path);
    m_edit->document()->setModified(false);
    return true;
}

bool DocumentWindow::save()
{
    if (!isUntitled()) return saveTo(m_path);
    const QString path = m_prompt.saveFileName(kSaveTitle, kSaveFilter, offeredPath());
    return !path.isEmpty() && saveTo(path);
}

bool DocumentWindow::saveAs()
{
    const QString path = m_prompt.saveFileName(kSaveAsTitle, kSaveAsFilter, offeredPath());
    return !path.isEmpty() && saveTo(path);
}

QString DocumentWindow::offeredPath() const
{
    // A new message is offered under its caption ("Documento 1.msg").
    return isUntitled()
               ? QDir(recentfiles::lastFolder()).filePath(m_caption + QLatin1String(".msg"))
               : m_path;
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
