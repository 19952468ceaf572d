#pragma once

#include "settings.h"
#include "settingsfiles.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class MainWindow;
class PanelPort;
class Prompt;

// The program's life: the splash, the main window, and the settings cycle
// ("C&onfigurar" closes the main window, the password window and the
// settings dialog follow, and the main window comes back, loaded anew).
// The program never quits during the cycle and never leaves the operator
// without a window; it ends only when the main window closes otherwise.
class AppController : public QObject
{
    Q_OBJECT
public:
    // A prompt and a port for tests; the real ones otherwise.
    // tipsTemplate is the tips file the program ships with (see
    // shippedTipsFile()), copied when the settings folder has none.
    AppController(const QString &settingsFolder, const QString &tipsTemplate,
                  Prompt *prompt = nullptr, std::function<PanelPort *()> makePort = {},
                  QObject *parent = nullptr);
    ~AppController() override;

    // The splash for three seconds, then the main window.
    void start(int splashMs = 3000);
    // Message files to open once the main window has started (the files
    // the program was started with, "letreiro a.msg b.msg").
    void openAtStart(const QStringList &files) { m_filesAtStart = files; }
    void showMain();

    MainWindow *mainWindow() const;
    const Settings &settings() const { return m_settings; }
    // Reads the settings files anew and shows what was read in the main window.
    void reloadSettings();
    const SettingsFiles &files() const { return m_files; }

Q_SIGNALS:
    // The main window closed for good: the program ends.
    void finished();

private:
    void mainClosed(bool forSettings);
    void askPassword();
    void openSettings();

    Settings m_settings;
    SettingsFiles m_files;
    std::unique_ptr<Prompt> m_ownPrompt;
    Prompt *m_prompt;
    std::function<PanelPort *()> m_makePort;
    QPointer<MainWindow> m_main;
    QStringList m_filesAtStart;
};

// Where an installed or portable program keeps the tips it ships with.
QString shippedTipsFile();
