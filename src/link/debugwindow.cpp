#include "debugwindow.h"

#include <QKeyEvent>
#include <QPlainTextEdit>

DebugWindow::DebugWindow(QWidget *parent) : QWidget(parent), m_text(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("frmdebug"));
    setWindowTitle(QStringLiteral("frmdebug."));
    setAttribute(Qt::WA_DeleteOnClose);
    m_text->setObjectName(QStringLiteral("Text1"));
    // Read-only: the trace cannot be edited from the keyboard, but it can be
    // selected and copied.
    m_text->setReadOnly(true);
    m_text->setFont(QFont(QStringLiteral("Courier New"), 10));
    resize(480, 320);
}

void DebugWindow::traceStarted(const QString &text)
{
    m_trace = text;
    m_text->setPlainText(QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
}

void DebugWindow::traceAppended(const QString &text)
{
    m_trace += text;
    m_text->moveCursor(QTextCursor::End);
    m_text->insertPlainText(QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
}

void DebugWindow::resizeEvent(QResizeEvent *e)
{
    QWidget::resizeEvent(e);
    // 100 twips from the left and top, and 200 less than the window.
    const int mx = logicalDpiX() * 100 / 1440, my = logicalDpiY() * 100 / 1440;
    m_text->setGeometry(mx, my, qMax(0, width() - 2 * mx), qMax(0, height() - 2 * my));
}
