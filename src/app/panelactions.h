#pragma once

#include "panellink.h"
#include "panelport.h"

#include <QObject>
#include <QPointer>
#include <QVector>

#include <functional>

class DebugWindow;
class DocumentWindow;
class Prompt;
class QAction;
class StatusPanels;
struct MenuBarActions;
struct Settings;

// The panel operations of the main window: opening the port at activation,
// the transfer and the panel commands, their status texts and the debug
// trace. The port answers with signals; this keeps the little state they
// drive (closed, opening, open; an exchange in hand or not). While one
// exchange runs the transmission and settings menus are off, and any other
// command is refused at once.
class PanelActions : public QObject
{
    Q_OBJECT
public:
    PanelActions(const Settings &settings, MenuBarActions &menus, StatusPanels &status,
                 Prompt &prompt, PanelPort &port, std::function<DocumentWindow *()> activeEditor,
                 QObject *parent = nullptr);

    // Opens the port while it is closed and offers the simulation for the
    // widths that have one.
    void activate();
    // The operator was in another application: on return, a port that is
    // still missing is reported again.
    void programLeft();
    // The main window closes; the next activation opens the port again.
    void closePort();
    // A panel address in the settings that cannot be right: transmission
    // stays off, with the reason in the status bar, until it is fixed.
    void setAddressProblem(const QString &problem);
    void transfer();
    // "P" (stop), "A" (clear) or "I" (start).
    void letter(char command);
    void setClock();
    void setDate();
    // The program is ending during an exchange: the frame in hand goes out
    // whole and no answer is waited for; the status bar says so.
    void finishForExit();

    bool isBusy() const { return m_busy; }
    // How long the frame in hand needs yet; -1 before its first report.
    qint64 msLeft() const { return m_msLeft; }
    bool isPortOpen() const { return m_portState == PortState::Open; }
    // The settings were read anew: the next activation opens the port
    // again, even an open one (its number may have changed).
    void settingsReloaded() { m_reopen = true; }
    void setDebugWindow(DebugWindow *window);
    // Shows the tips window after the port opened (tips are not built yet).
    std::function<void()> showTips = [] {};

Q_SIGNALS:
    void exchangeFinished();
    // The frame in hand needs this long yet to leave whole.
    void frameProgress(qint64 msLeft);

private:
    enum class PortState { Closed, Opening, Open };

    void run(const PanelPort::Job &send);
    void portOpened(bool ok, const QString &reason);
    void exchangeDone(const CommandOutcome &outcome);
    void portLost(const QString &reason);
    void showProgress(qsizetype written, qsizetype total, qint64 msLeft);
    void setTransmissionEnabled(bool enabled);
    bool traceWanted() const;

    const Settings &m_settings;
    MenuBarActions &m_menus;
    StatusPanels &m_status;
    Prompt &m_prompt;
    PanelPort &m_port;
    std::function<DocumentWindow *()> m_activeEditor;
    QPointer<DebugWindow> m_debug;
    PortState m_portState = PortState::Closed;
    bool m_busy = false;
    bool m_progressShown = false;
    qint64 m_msLeft = -1;
    bool m_reopen = false;
    QString m_addressProblem;
    QString m_portReason;
    bool m_portComplained = false;
};
