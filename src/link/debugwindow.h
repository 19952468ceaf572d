#pragma once

#include "panellink.h"

#include <QWidget>

class QPlainTextEdit;

// The debug window "frmdebug": the trace of the last exchange with the panel
// (the data, the frame sent and the answer, in hexadecimal). It is an MDI
// child of the main window; commands that act on the active editor know it
// by its caption "frmdebug." and leave it alone.
class DebugWindow : public QWidget, public LinkListener
{
    Q_OBJECT
public:
    explicit DebugWindow(QWidget *parent = nullptr);
    // The trace exactly as built, CR LF line ends included.
    QString traceText() const { return m_trace; }

    bool traceWanted() const override { return true; }
    void traceStarted(const QString &text) override;
    void traceAppended(const QString &text) override;

protected:
    void resizeEvent(QResizeEvent *e) override;

private:
    QPlainTextEdit *m_text;
    QString m_trace;
};
