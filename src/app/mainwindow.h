#pragma once

#include "filecommands.h"
#include "menubar.h"
#include "settingsfiles.h"
#include "sharedsettings.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <memory>

class DebugWindow;
class HelpWindow;
class DocumentWindow;
class PanelActions;
class PanelPort;
class Prompt;
class QMdiArea;
class SimulationWindow;
class QToolBar;
class StatusPanels;

// The main window "frmMain": the editor windows in an MDI area, the menu bar,
// the toolbar and the status bar. Every command that acts on the active
// editor does nothing when there is none or when the debug window is the
// active child.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    static const QString kDebugCaption;

    // Without a prompt the real dialogs are used, without a port the real
    // serial line.
    MainWindow(SharedSettings &settings, const QString &settingsFolder, Prompt *prompt = nullptr,
               PanelPort *port = nullptr, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Reads the settings files into the shared settings, sets the menus for
    // the panel, fills the status bar and puts the window where it was.
    void load();

    DocumentWindow *LoadNewDoc();
    // Opens a message file in a new editor window, as "&Abre" does.
    void openFile(const QString &path) { m_fileCommands.openFile(path); }
    DocumentWindow *activeEditor() const;

    QMdiArea *mdiArea() const { return m_mdi; }
    MenuBarActions &menus() { return m_menus; }
    QToolBar *toolbar() const { return m_toolbar; }
    const QVector<QAction *> &toolbarButtons() const { return m_buttons; }
    StatusPanels *statusPanels() const { return m_status; }
    Prompt &prompt() const { return *m_prompt; }
    SettingsFiles &files() { return m_files; }
    PanelActions &panel() const { return *m_panel; }
    DebugWindow *debugWindow() const;

    // The first activation after a load, and every return from another
    // application: opens the port while it is not ready.
    void MDIForm_Activate();
    void mnudebug_Click();
    void mnusim_Click();
    void mnuconfig_Click();
    void mnudica_Click();
    void mnuHelpAbout_Click();
    // How the simulation window is shown; tests play it on virtual time.
    std::function<void(SimulationWindow &)> showSimulation;

    // Runs the handler of the first toolbar key that matches, case included.
    void toolbarButtonClick(const QString &key);

    void tagCommand(tags::Menu menu, int index);
    void mnuverde_Click();
    void mnuvermelho_Click();
    void mnularanja_Click();
    void mnuiris_Click();
    void mnunormal_Click();
    void mnuexp_Click();
    void mnucortar_Click();
    void mnucopiar_Click();
    void mnucolar_Click();
    void mnuferra_Click();
    void mnustatus_Click();

    // "Aj&uda" and F1.
    void showHelp();
    // The recent files at the end of "&Arquivo", as the store has them now.
    void fillRecentFiles();
    // The active message's encoded size against the frame's limit, in the
    // status bar, as it is edited.
    void showMessageSize();

Q_SIGNALS:
    // The window closed: for the settings cycle, or for good.
    void closed(bool forSettings);

protected:
    void closeEvent(QCloseEvent *e) override;
    void showEvent(QShowEvent *e) override;
    // Message files dropped on the window are opened, each in its own.
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dropEvent(QDropEvent *e) override;

private:
    void connectSecondHour();
    void discard(DocumentWindow *doc);
    int neededWidth() const;
    void connectMenus();
    void fillWindowList();

    SharedSettings &m_settings;
    SettingsFiles m_files;
    std::unique_ptr<Prompt> m_ownPrompt;
    PanelPort *m_port;
    Prompt *m_prompt;
    QMdiArea *m_mdi;
    MenuBarActions m_menus;
    QVector<QAction *> m_buttons; // filled while the toolbar is built
    QToolBar *m_toolbar;
    StatusPanels *m_status;
    FileCommands m_fileCommands;
    PanelActions *m_panel;
    // How long the program must be inactive before it counts as left.
    static constexpr int kAwayMs = 400;
    QTimer m_awayTimer;
    QTimer m_sizeTimer;
    bool m_away = false;
    bool m_closePending = false;
    bool m_shown = false;
    QList<QAction *> m_windowList;
    QPointer<HelpWindow> m_help;
    int m_documentCount = 0;
};
