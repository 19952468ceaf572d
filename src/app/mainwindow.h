#pragma once

#include "filecommands.h"
#include "menubar.h"
#include "settings.h"
#include "settingsfiles.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <memory>

class ClosingWindow;
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
    // Without a prompt the real dialogs are used, without a port the real
    // serial line. The settings are the application's, read here only.
    MainWindow(const Settings &settings, const QString &settingsFolder, Prompt *prompt = nullptr,
               PanelPort *port = nullptr, QWidget *parent = nullptr);
    ~MainWindow() override;

    // After the settings files were read (into the settings this window
    // was given): sets the menus for the panel, fills the status bar with
    // what was read and what failed, and puts the window where it was.
    void load(const SettingsFiles::Report &report);
    const Settings &settings() const { return m_settings; }

    DocumentWindow *newDocument();
    // Opens a message file in a new editor window, as "&Abre" does.
    void openFile(const QString &path) { m_fileCommands.openFile(path); }
    DocumentWindow *activeEditor() const;

    QMdiArea *mdiArea() const { return m_mdi; }
    MenuBarActions &menus() { return m_menus; }
    QToolBar *toolbar() const { return m_toolbar; }
    // The toolbar's entries, separators included: the menus' own actions.
    QList<QAction *> toolbarButtons() const;
    StatusPanels *statusPanels() const { return m_status; }
    Prompt &prompt() const { return *m_prompt; }
    SettingsFiles &files() { return m_files; }
    PanelActions &panel() const { return *m_panel; }
    DebugWindow *debugWindow() const;

    // The first activation after a load, and every return from another
    // application: opens the port while it is not ready.
    void activatePort();
    void showDebugWindow();
    void simulate();
    void openSettings();
    void showTips();
    void showAbout();
    // How the simulation window is shown; tests play it on virtual time.
    std::function<void(SimulationWindow &)> showSimulation;

    void insertTag(tags::Menu menu, int index);
    void colourGreen();
    void colourRed();
    void colourOrange();
    void colourRainbow();
    void normalLetters();
    void expandedLetters();
    void cut();
    void copy();
    void paste();
    void toggleToolbar();
    void toggleStatusBar();

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
    // "Não mostrar esta tela novamente." changed in the tips window (the
    // file has it already; the settings' owner keeps it too).
    void tipsHiddenChosen(bool hidden);

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

    const Settings &m_settings;
    SettingsFiles m_files;
    std::unique_ptr<Prompt> m_ownPrompt;
    PanelPort *m_port;
    Prompt *m_prompt;
    QMdiArea *m_mdi;
    MenuBarActions m_menus;
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
    bool m_settingsRequested = false; // closing for "C&onfigurar"
    QList<QAction *> m_windowList;
    QPointer<HelpWindow> m_help;
    QPointer<ClosingWindow> m_closingWindow;
    int m_documentCount = 0;
};
