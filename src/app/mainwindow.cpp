#include "mainwindow.h"

#include "aboutwindows.h"
#include "closingwindow.h"
#include "debugwindow.h"
#include "documentwindow.h"
#include "messageedit.h"
#include "panelactions.h"
#include "panelport.h"
#include "prompt.h"
#include "rtfreader.h"
#include "rtfwriter.h"
#include "simulationwindow.h"
#include "simwidth.h"
#include "statusbar.h"
#include "tipswindow.h"
#include "toolbar.h"
#include "windowplacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>

MainWindow::MainWindow(const Settings &settings, const QString &settingsFolder, Prompt *prompt,
                       PanelPort *port, QWidget *parent)
    : QMainWindow(parent), m_settings(settings), m_files(settingsFolder),
      m_ownPrompt(prompt ? nullptr : std::make_unique<DialogPrompt>(this)),
      m_port(port ? port : new SerialPanelPort(this)),
      m_prompt(prompt ? prompt : m_ownPrompt.get()), m_mdi(new QMdiArea(this)),
      m_menus(buildMenuBar(menuBar())), m_toolbar(buildToolbar(this, m_menus)),
      m_status(new StatusPanels(this)),
      m_fileCommands(
          *m_prompt, [this] { return newDocument(); }, [this] { return activeEditor(); },
          [this](DocumentWindow *doc) { discard(doc); }),
      m_panel(new PanelActions(
          settings, m_menus, *m_status, *m_prompt, *m_port, [this] { return activeEditor(); },
          this))
{
    if (!m_port->parent()) m_port->setParent(this);
    // The engine starts 300 ms after the window opens; the window is modal.
    m_panel->showTips = [this] { showTips(); };
    showSimulation = [](SimulationWindow &w) {
        w.arm();
        w.exec();
    };
    // Returning from another application counts as an activation. Focus
    // passing between the program's own windows (a message box opening or
    // closing) makes the application inactive for a moment only: that is
    // no return, or the port box would bring itself back when it closed.
    m_awayTimer.setSingleShot(true);
    m_awayTimer.setInterval(kAwayMs);
    connect(&m_awayTimer, &QTimer::timeout, this, [this] {
        m_away = true;
        m_panel->programLeft();
    });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s != Qt::ApplicationActive) {
            if (!m_away) m_awayTimer.start();
            return;
        }
        m_awayTimer.stop();
        if (!m_away) return;
        m_away = false;
        if (isVisible()) activatePort();
    });
    // Quitting during an exchange lets its frame go out whole first.
    connect(qApp, &QCoreApplication::aboutToQuit, m_panel, &PanelActions::finishForExit);
    connect(m_panel, &PanelActions::exchangeFinished, this, [this] {
        if (m_closePending) {
            m_closePending = false;
            delete m_closingWindow;
            close();
        }
    });
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kProgramTitle);
    m_mdi->setObjectName(QStringLiteral("MDIForm"));
    setCentralWidget(m_mdi);
    addToolBar(m_toolbar);
    setStatusBar(m_status);
    connectMenus();
    connectSecondHour();
    // The tick follows the toolbar however it was hidden (its own context
    // menu included).
    connect(m_toolbar, &QToolBar::visibilityChanged, m_menus.mnuferra, &QAction::setChecked);
}

int MainWindow::neededWidth() const
{
    // What the whole menu bar and the status panels need; the main window is
    // never narrower, so no menu hides behind a "»".
    const int frame = width() - contentsRect().width();
    return qMax(menuBar()->sizeHint().width(), m_status->sizeHint().width()) + frame;
}

MainWindow::~MainWindow()
{
    // The windows inside go after this part of the object: they must not
    // call back into it as they close.
    disconnect(m_mdi, nullptr, this, nullptr);
    m_sizeTimer.stop();
    if (DebugWindow *debug = debugWindow()) disconnect(debug, nullptr, this, nullptr);
}

void MainWindow::connectMenus()
{
    MenuBarActions &m = m_menus;
    connect(m.mnunovo, &QAction::triggered, this, [this] { newDocument(); });
    connect(m.mnuabre, &QAction::triggered, this, [this] { m_fileCommands.open(); });
    connect(m.mnusalva, &QAction::triggered, this, [this] { m_fileCommands.save(); });
    connect(m.mnusalvacomo, &QAction::triggered, this, [this] { m_fileCommands.saveAs(); });
    connect(m.mnuimp, &QAction::triggered, this, [this] { m_fileCommands.print(); });
    connect(m.mnuFileExit, &QAction::triggered, this, &QWidget::close);
    connect(m.mnuconfig, &QAction::triggered, this, &MainWindow::openSettings);
    connect(m.mnudica, &QAction::triggered, this, &MainWindow::showTips);
    connect(m.mnuHelpAbout, &QAction::triggered, this, &MainWindow::showAbout);
    connect(m.mnucortar, &QAction::triggered, this, &MainWindow::cut);
    connect(m.mnucopiar, &QAction::triggered, this, &MainWindow::copy);
    connect(m.mnucolar, &QAction::triggered, this, &MainWindow::paste);
    connect(m.mnuferra, &QAction::triggered, this, &MainWindow::toggleToolbar);
    connect(m.mnustatus, &QAction::triggered, this, &MainWindow::toggleStatusBar);
    connect(m.mnuverde, &QAction::triggered, this, &MainWindow::colourGreen);
    connect(m.mnuvermelho, &QAction::triggered, this, &MainWindow::colourRed);
    connect(m.mnularanja, &QAction::triggered, this, &MainWindow::colourOrange);
    connect(m.mnuiris, &QAction::triggered, this, &MainWindow::colourRainbow);
    connect(m.mnunormal, &QAction::triggered, this, &MainWindow::normalLetters);
    connect(m.mnuexp, &QAction::triggered, this, &MainWindow::expandedLetters);
    for (auto it = m.tagItems.cbegin(); it != m.tagItems.cend(); ++it) {
        const tags::Menu menu = it.key();
        for (QAction *a : it.value()) {
            const int index = a->data().toInt();
            connect(a, &QAction::triggered, this, [this, menu, index] { insertTag(menu, index); });
        }
    }
    connect(m.mnutransfere, &QAction::triggered, m_panel, &PanelActions::transfer);
    connect(m.mnupara, &QAction::triggered, m_panel, [this] { m_panel->letter('P'); });
    connect(m.mnuapaga, &QAction::triggered, m_panel, [this] { m_panel->letter('A'); });
    connect(m.mnuinicia, &QAction::triggered, m_panel, [this] { m_panel->letter('I'); });
    connect(m.mnuhora, &QAction::triggered, m_panel, &PanelActions::setClock);
    connect(m.mnudata, &QAction::triggered, m_panel, &PanelActions::setDate);
    connect(m.mnudebug, &QAction::triggered, this, &MainWindow::showDebugWindow);
    connect(m.mnusim, &QAction::triggered, this, &MainWindow::simulate);
    connect(m.mnuWindowCascade, &QAction::triggered, m_mdi, &QMdiArea::cascadeSubWindows);
    connect(m.mnuWindowTileHorizontal, &QAction::triggered, this, [this] {
        // Windows one above the other, each as wide as the area.
        const auto windows = m_mdi->subWindowList();
        if (windows.isEmpty()) return;
        const int h = m_mdi->viewport()->height() / int(windows.size());
        int y = 0;
        for (QMdiSubWindow *w : windows) {
            w->showNormal();
            w->setGeometry(0, y, m_mdi->viewport()->width(), h);
            y += h;
        }
    });
    connect(m.mnuWindowTileVertical, &QAction::triggered, m_mdi, &QMdiArea::tileSubWindows);
    connect(m.mnuWindow, &QMenu::aboutToShow, this, &MainWindow::fillWindowList);
}

void MainWindow::fillWindowList()
{
    qDeleteAll(m_windowList);
    m_windowList.clear();
    const auto windows = m_mdi->subWindowList();
    for (int i = 0; i < windows.size(); ++i) {
        QMdiSubWindow *w = windows[i];
        // Only windows 1 to 9 have a digit of their own to press.
        const QString number = i < 9 ? QStringLiteral("&%1").arg(i + 1) : QString::number(i + 1);
        const auto *doc = qobject_cast<DocumentWindow *>(w->widget());
        // A changed message is marked as in its caption ("Documento 1*").
        const QString caption =
            doc ? doc->caption() + (doc->saved() ? QString() : QStringLiteral("*"))
                : w->windowTitle();
        QAction *a = m_menus.mnuWindow->addAction(
            number + QLatin1Char(' ') +
            QString(caption).replace(QLatin1Char('&'), QLatin1String("&&")));
        a->setCheckable(true);
        a->setChecked(w == m_mdi->currentSubWindow());
        connect(a, &QAction::triggered, this, [this, w] { m_mdi->setActiveSubWindow(w); });
        m_windowList.append(a);
    }
}

void MainWindow::load(const SettingsFiles::Report &report)
{
    setMinimumWidth(neededWidth());
    // At first start the toolbar shows whole too.
    windowplacement::restore(*this, m_toolbar->sizeHint().width());
    m_settingsRequested = false;
    // The port's number may have changed: it is opened anew.
    m_panel->settingsReloaded();
    m_status->setPanelText(3, versionText());
    // A file that failed was skipped and the next one read; what went wrong
    // is shown in the first panel rather than lost.
    m_status->setPanelText(4, report.configRead ? QStringLiteral("End:") + report.addressText
                                                : QString());
    m_panel->setAddressProblem(report.addressProblem);
    applyMenuVisibility(m_menus,
                        menuVisibility(m_settings.panelType, m_settings.temperatureOption));
    m_status->setPanelText(2, QStringLiteral("Com%1").arg(m_settings.portNumber));
    m_status->setPanelText(1,
                           report.addressProblem.isEmpty() ? report.error : report.addressProblem);
}

DocumentWindow *MainWindow::newDocument()
{
    ++m_documentCount;
    auto *doc = new DocumentWindow(*m_prompt, QStringLiteral("Documento %1").arg(m_documentCount));
    connect(doc, &DocumentWindow::fileUsed, this, &MainWindow::fillRecentFiles);
    // Counted once typing pauses, not at every key of a long message.
    connect(doc->editor()->document(), &QTextDocument::contentsChanged, &m_sizeTimer,
            qOverload<>(&QTimer::start));
    QMdiSubWindow *sub = m_mdi->addSubWindow(doc);
    sub->show();
    // Wide enough that a line of tags does not wrap inside a tag's name:
    // two thirds of the area at least.
    const QSize area = m_mdi->viewport()->size();
    if (sub->width() < area.width() * 2 / 3 && !sub->isMaximized()) {
        const int width = qMin(area.width(), area.width() * 2 / 3);
        sub->setGeometry(qBound(0, sub->x(), area.width() - width), sub->y(), width, sub->height());
    }
    m_mdi->setActiveSubWindow(sub);
    doc->editor()->setFocus();
    return doc;
}

DocumentWindow *MainWindow::activeEditor() const
{
    // The current window, even while another application has the focus.
    QMdiSubWindow *sub = m_mdi->currentSubWindow();
    return sub ? qobject_cast<DocumentWindow *>(sub->widget()) : nullptr;
}

void MainWindow::showEvent(QShowEvent *e)
{
    QMainWindow::showEvent(e);
    if (!m_shown) {
        m_shown = true;
        QTimer::singleShot(0, this, &MainWindow::activatePort);
    }
}

void MainWindow::activatePort()
{
    m_panel->activate();
}

DebugWindow *MainWindow::debugWindow() const
{
    for (QMdiSubWindow *w : m_mdi->subWindowList()) {
        if (auto *d = qobject_cast<DebugWindow *>(w->widget())) return d;
    }
    return nullptr;
}

void MainWindow::showDebugWindow()
{
    if (DebugWindow *open = debugWindow()) {
        m_mdi->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(open->parentWidget()));
        return;
    }
    auto *debug = new DebugWindow;
    m_panel->setDebugWindow(debug);
    QMdiSubWindow *sub = m_mdi->addSubWindow(debug);
    // Large enough to read a trace, within the main window's area.
    const QSize area = m_mdi->viewport()->size();
    sub->resize(QSize(480, 320).boundedTo(area.expandedTo(QSize(240, 160))));
    sub->show();
    // Wholly inside the area, close box included, wherever the area's
    // cascade put it beside the open messages.
    sub->move(qBound(0, sub->x(), qMax(0, area.width() - sub->width())),
              qBound(0, sub->y(), qMax(0, area.height() - sub->height())));
}

void MainWindow::simulate()
{
    DocumentWindow *doc = activeEditor();
    if (!doc) return;
    const RichText text = doc->editor()->richText();
    if (text.isEmpty()) {
        m_prompt->message(QStringLiteral("Favor editar uma mensagem!!!"));
        return;
    }
    const int width = simwidth::forPanelType(m_settings.panelType);
    if (width == 0) {
        if (vocabulary::panelType(m_settings.panelType))
            m_prompt->message(QStringLiteral("Opção inválida para esta quantidade de caracteres"));
        return;
    }
    // The window plays a copy of the message as it stands now, handed over
    // as the message files hold it.
    const QByteArray simRtf = writeRtf(text);
    const QString simCaption = doc->caption();
    SimulationWindow window(width, simCaption, readRtf(simRtf).text, {}, this);
    showSimulation(window);
}

void MainWindow::openSettings()
{
    m_settingsRequested = true;
    close();
}

void MainWindow::showTips()
{
    TipsWindow tips(m_settings, m_files, *m_prompt, this);
    m_prompt->runDialog(tips);
    if (tips.hidesTips() != (m_settings.tipsHidden != 0)) Q_EMIT tipsHiddenChosen(tips.hidesTips());
}

void MainWindow::showAbout()
{
    AboutWindow about(*m_prompt, this);
    m_prompt->runDialog(about);
}

void MainWindow::closeEvent(QCloseEvent *e)
{
    // Closing while the panel is talked to waits for the frame to end.
    if (m_panel->isBusy()) {
        m_closePending = true;
        m_panel->finishForExit();
        e->ignore();
        // The operator sees why nothing closes yet, and for how long.
        if (!m_closingWindow) {
            m_closingWindow = new ClosingWindow(this);
            m_closingWindow->setMsLeft(m_panel->msLeft());
            connect(m_panel, &PanelActions::frameProgress, m_closingWindow,
                    &ClosingWindow::setMsLeft);
        }
        m_closingWindow->show();
        m_closingWindow->raise();
        return;
    }
    const bool forSettings = m_settingsRequested;
    if (!forSettings && !isMinimized()) windowplacement::store(*this);
    // The most recently opened first; any of them may refuse.
    auto windows = m_mdi->subWindowList(QMdiArea::CreationOrder);
    for (auto it = windows.crbegin(); it != windows.crend(); ++it) {
        if (!(*it)->close()) {
            // A refused close also calls off the settings cycle, or the next
            // close would ask for the password instead of ending.
            m_settingsRequested = false;
            e->ignore();
            return;
        }
    }
    m_panel->closePort();
    e->accept();
    Q_EMIT closed(forSettings);
}
