#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

// Shown when the program is closed while a frame goes to the panel: the
// frame must reach the panel whole, so the program ends only after it. The
// window says so and counts down; the main window closes it with itself.
class ClosingWindow : public QDialog
{
    Q_OBJECT
public:
    explicit ClosingWindow(QWidget *parent = nullptr);
    // The frame needs this long yet (0 once it is out).
    void setMsLeft(qint64 msLeft);
    QString countdown() const;

protected:
    // Neither Escape nor the close box can call the end off: the frame
    // goes on either way.
    void reject() override {}

private:
    QLabel *m_countdown;
};
