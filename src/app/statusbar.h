#pragma once

#include <QStatusBar>

class QLabel;
class QProgressBar;

// The main window's status bar "sbStatusBar": six panels. Panel 1 holds the
// outcome of the last command, 2 the port, 3 the version, 4 the address;
// 5 and 6 show today's date and the time and keep them current.
class StatusPanels : public QStatusBar
{
    Q_OBJECT
public:
    explicit StatusPanels(QWidget *parent = nullptr);
    // Panels are numbered from 1.
    void setPanelText(int panel, const QString &text);
    QString panelText(int panel) const;
    // "1.234 / 7.500"; nothing for bytes < 0 (no message window).
    void setMessageSize(qsizetype bytes, qsizetype limit);
    QString messageSize() const;
    // A bar beside the first panel while a frame goes: how far it is and
    // the seconds left ("restam 28 s").
    void showProgress(qsizetype written, qsizetype total, qint64 msLeft);
    void hideProgress();
    // What the bar says; empty while it is hidden.
    QString progressText() const;

private:
    void tick();
    QLabel *m_panels[6];
    QLabel *m_size;
    QProgressBar *m_progress;
};

// "Versão 1.0.0".
QString versionText();
