#include "appcontroller.h"

#include "aboutwindows.h"
#include "mainwindow.h"
#include "passwordwindows.h"
#include "prompt.h"
#include "settingsdialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

QString shippedTipsFile()
{
    const QDir exe(QCoreApplication::applicationDirPath());
    for (const QString &candidate :
         {exe.filePath(settingsfiles::kTipsFile),
          exe.filePath(QStringLiteral("../share/letreiro/") + settingsfiles::kTipsFile)}) {
        if (QFileInfo::exists(candidate)) return QFileInfo(candidate).absoluteFilePath();
    }
    return {};
}

AppController::AppController(const QString &settingsFolder, const QString &tipsTemplate,
                             Prompt *prompt, std::function<PanelPort *()> makePort, QObject *parent)
    : QObject(parent), m_files(settingsFolder),
      m_ownPrompt(prompt ? nullptr : std::make_unique<DialogPrompt>(nullptr)),
      m_prompt(prompt ? prompt : m_ownPrompt.get()), m_makePort(std::move(makePort))
{
    m_files.setTipsTemplate(tipsTemplate);
}

MainWindow *AppController::mainWindow() const
{
    return m_main;
}

AppController::~AppController()
{
    delete m_main;
}

void AppController::start(int splashMs)
{
    auto *splash = new SplashWindow;
    splash->setAttribute(Qt::WA_DeleteOnClose);
    splash->show();
    splash->repaint();
    QTimer::singleShot(splashMs, this, [this, splash] {
        splash->close();
        showMain();
    });
}

void AppController::showMain()
{
    m_main =
        new MainWindow(m_settings, m_files.folder(), m_prompt, m_makePort ? m_makePort() : nullptr);
    m_main->setAttribute(Qt::WA_DeleteOnClose);
    m_main->files() = m_files;
    connect(m_main, &MainWindow::closed, this, &AppController::mainClosed);
    connect(m_main, &MainWindow::tipsHiddenChosen, this,
            [this](bool hidden) { m_settings.tipsHidden = hidden ? 1 : 0; });
    reloadSettings();
    m_main->show();
    // After the start-up's own steps (the port, the tips), which the window
    // queued when it showed.
    if (!m_filesAtStart.isEmpty()) {
        QTimer::singleShot(0, m_main, [main = m_main, files = m_filesAtStart] {
            for (const QString &f : files)
                main->openFile(f);
        });
        m_filesAtStart.clear();
    }
}

void AppController::reloadSettings()
{
    const SettingsFiles::Report report = m_files.loadAll(m_settings);
    if (m_main) m_main->load(report);
}

void AppController::mainClosed(bool forSettings)
{
    if (forSettings)
        askPassword();
    else
        Q_EMIT finished();
}

void AppController::askPassword()
{
    auto *password = new PasswordWindow(m_settings, *m_prompt);
    connect(password, &PasswordWindow::granted, this, &AppController::openSettings);
    connect(password, &PasswordWindow::cancelled, this, &AppController::showMain);
    password->show();
}

void AppController::openSettings()
{
    auto *dialog = new SettingsDialog(m_settings, m_files, *m_prompt);
    connect(dialog, &SettingsDialog::closedSettings, this, &AppController::showMain);
    dialog->show();
}
