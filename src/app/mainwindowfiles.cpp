// What operators expect of a desktop program beyond the panel's own
// commands: undo and redo, the recent files, files dropped on the window,
// the message's size, and the help.
#include "mainwindow.h"

#include "documentwindow.h"
#include "frame.h"
#include "helpwindow.h"
#include "messageedit.h"
#include "recentfiles.h"
#include "sendcheck.h"
#include "statusbar.h"

#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMimeData>

void MainWindow::connectSecondHour()
{
    MenuBarActions &m = m_menus;
    connect(m.mnudesfazer, &QAction::triggered, this, [this] {
        if (DocumentWindow *doc = activeEditor()) doc->editor()->undo();
    });
    connect(m.mnurefazer, &QAction::triggered, this, [this] {
        if (DocumentWindow *doc = activeEditor()) doc->editor()->redo();
    });
    connect(m.mnuajuda, &QAction::triggered, this, &MainWindow::showHelp);
    for (QAction *a : m.recentFiles) {
        connect(a, &QAction::triggered, this,
                [this, a] { openFile(a->property("path").toString()); });
    }
    connect(m.mnuFile, &QMenu::aboutToShow, this, &MainWindow::fillRecentFiles);
    setAcceptDrops(true);
    fillRecentFiles();
    // Ctrl+F4 closes the message in front on every platform, as on
    // Windows. Only where the platform's close key is another one (Ctrl+W
    // under Linux desktops): a key with two owners reaches neither. The
    // area itself goes round the windows with Ctrl+Tab and Ctrl+Shift+Tab.
    const QKeySequence closeKey(Qt::CTRL | Qt::Key_F4);
    if (!QKeySequence::keyBindings(QKeySequence::Close).contains(closeKey)) {
        auto *close = new QAction(this);
        close->setShortcut(closeKey);
        addAction(close);
        connect(close, &QAction::triggered, m_mdi, &QMdiArea::closeActiveSubWindow);
    }
    connect(m_mdi, &QMdiArea::subWindowActivated, this, &MainWindow::showMessageSize);
    m_sizeTimer.setSingleShot(true);
    m_sizeTimer.setInterval(150);
    connect(&m_sizeTimer, &QTimer::timeout, this, &MainWindow::showMessageSize);
}

void MainWindow::showMessageSize()
{
    DocumentWindow *doc = activeEditor();
    if (!doc) {
        m_status->setMessageSize(-1, frame::kMaxData);
        return;
    }
    const sendcheck::Size size = sendcheck::size(doc->editor()->richText(), m_settings.panelType);
    m_status->setMessageSize(size.used, size.limit);
}

void MainWindow::fillRecentFiles()
{
    const QStringList files = recentfiles::list();
    for (int i = 0; i < m_menus.recentFiles.size(); ++i) {
        QAction *a = m_menus.recentFiles[i];
        a->setVisible(i < files.size());
        if (i >= files.size()) continue;
        // The file's name, with its digit to press; the path in the tip.
        a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(
            QFileInfo(files[i]).fileName().replace(QLatin1Char('&'), QLatin1String("&&"))));
        a->setStatusTip(QDir::toNativeSeparators(files[i]));
        a->setToolTip(QDir::toNativeSeparators(files[i]));
        a->setProperty("path", files[i]);
    }
    m_menus.recentSeparator->setVisible(!files.isEmpty());
}

void MainWindow::discard(DocumentWindow *doc)
{
    // Nothing was typed in it: it goes without a question.
    doc->editor()->document()->setModified(false);
    if (auto *sub = qobject_cast<QMdiSubWindow *>(doc->parentWidget())) sub->close();
}

void MainWindow::showHelp()
{
    if (!m_help) {
        m_help = new HelpWindow(this);
        m_help->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void MainWindow::dragEnterEvent(QDragEnterEvent *e)
{
    if (!MessageEdit::messageFiles(e->mimeData()).isEmpty()) e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *e)
{
    const QStringList files = MessageEdit::messageFiles(e->mimeData());
    if (files.isEmpty()) return;
    e->acceptProposedAction();
    for (const QString &f : files)
        openFile(f);
}
