#include "simulationwindow.h"

#include "ledview.h"
#include "messagefile.h"
#include "simdrivers.h"
#include "simperiod.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QThreadPool>

#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>

namespace
{

// The six windows as they were laid out, in twips.
struct Layout {
    int width;
    const char *name;
    const char *prefix;
    int clientW, clientH;
    int viewX, viewY, viewW, viewH;
    int tagX, tagY;
    int stopX, stopY;
};

constexpr Layout kLayouts[] = {
    {5, "frmsim3", "Simulação 1X5 => ", 4875, 1320, 0, 0, 2745, 1275, 2880, 120, 3480, 720},
    {6, "frmsim5", "Simulação 1X6 => ", 5490, 1320, 0, 0, 3345, 1275, 3480, 120, 4080, 720},
    {9, "frmsim4", "Simulação 1X9 => ", 7035, 1260, 0, 0, 4905, 1275, 5040, 120, 5520, 600},
    {12, "frmsim", "Simulação 1X12 => ", 8430, 1320, 0, 0, 6465, 1275, 6480, 120, 6840, 720},
    {15, "frmsim1", "Simulação 1X15 => ", 10110, 1320, 0, 0, 8145, 1275, 8160, 120, 8760, 600},
    {30, "frmsim2", "Simulação 1X30 => ", 10830, 855, 0, 120, 8865, 675, 8880, 0, 9240, 480},
};

const Layout *layoutFor(int width)
{
    for (const Layout &l : kLayouts) {
        if (l.width == width) return &l;
    }
    return nullptr;
}

} // namespace

SimulationWindow::SimulationWindow(int width, const QString &caption, const RichText &message,
                                   SimulationEngine::WallClock wallClock, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_width(width), m_message(message),
      m_engine(std::make_unique<SimulationEngine>(
          message, width,
          wallClock ? std::move(wallClock) : [] { return QDateTime::currentDateTime(); },
          QLocale())), // the program's language, as every other text it shows
      m_timer(new QTimer(this)), m_view(new LedView(width, this)), m_aux(new QTextEdit(this)),
      m_data(new QTextEdit(this)), m_tagBox(new QLineEdit(this)),
      m_stop(new QPushButton(QStringLiteral("Parar"), this))
{
    const Layout &l = layoutFor(width) ? *layoutFor(width) : kLayouts[3];
    setObjectName(QLatin1String(l.name));
    setWindowTitle(QString::fromUtf8(l.prefix) + caption);
    setModal(true);
    const auto px = [this](int twips) { return twips * logicalDpiX() / 1440; };

    m_view->setObjectName(QStringLiteral("rtfText"));
    m_aux->setObjectName(QStringLiteral("rtfaux"));
    m_data->setObjectName(QStringLiteral("rtfdata"));
    m_tagBox->setObjectName(QStringLiteral("Text1"));
    m_stop->setObjectName(QStringLiteral("Command1"));
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_aux->hide();
    m_data->hide();

    // The view: W cells of 5 x 7 LEDs, one line; small panels get larger
    // dots, and the 30-cell one stays within a common screen.
    const int viewH = px(l.viewH);
    const double pitch = width >= 30 ? 4.0 : viewH / 9.0;
    const int viewW = qMax(px(l.viewW), int(std::ceil(width * 6 * pitch)));
    m_view->setGeometry(px(l.viewX), px(l.viewY), viewW, viewH);
    m_view->saveAnimation = [this] { saveAnimation(); };
    const int shift = viewW - px(l.viewW); // room made for the cells moves the rest right

    m_tagBox->setReadOnly(true);
    m_tagBox->setFont(QFont(QStringLiteral("MS Sans Serif"), 12));
    // Wide enough for thirteen of the font's widest letters: any tag shows
    // whole, whatever font stands in for "MS Sans Serif".
    const int tagW = qMax(
        px(1935), m_tagBox->fontMetrics().horizontalAdvance(QString(13, QLatin1Char('W'))) + 16);
    m_tagBox->setGeometry(px(l.tagX) + shift, px(l.tagY), tagW,
                          qMax(px(405), m_tagBox->sizeHint().height()));
    m_stop->setGeometry(px(l.stopX) + shift, px(l.stopY), px(855), px(375));
    m_stop->setDefault(true); // Enter presses "Parar"
    m_tagBox->installEventFilter(this);
    // From the keyboard: focus starts on "Parar" (Space or Enter), Tab
    // moves between it and the tag box, Escape ends as the close box does.
    setTabOrder(m_stop, m_tagBox);
    m_stop->setFocus();

    setFixedSize(std::max({px(l.clientW) + shift, m_stop->geometry().right() + px(120),
                           m_tagBox->geometry().right() + px(120)}),
                 qMax(px(l.clientH), viewH + px(l.viewY)));
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }

    connect(m_stop, &QPushButton::clicked, this, &SimulationWindow::stop);
    m_timer->setSingleShot(true);
    m_timer->setInterval(300);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_driver = std::make_unique<RealTimeSimulationDriver>(*m_engine);
        connect(m_driver.get(), &RealTimeSimulationDriver::stateChanged, this,
                qOverload<>(&SimulationWindow::showState));
        connect(m_driver.get(), &RealTimeSimulationDriver::finished, this,
                &SimulationWindow::engineEnded);
        m_driver->start();
    });
}

SimulationWindow::~SimulationWindow() = default;

void SimulationWindow::arm()
{
    m_timer->start();
}

void SimulationWindow::showState()
{
    if (!m_clock.isValid()) m_clock.start();
    showState(m_driver ? m_driver->dueNs() / 1000000 : m_clock.elapsed());
}

void SimulationWindow::showState(qint64 atMs)
{
    const PanelCells cells = m_engine->cells();
    // Every start is whole milliseconds from m_playedFromMs turned into
    // seconds by the one division, so later states never sort before
    // earlier ones, also across a trim.
    const auto seconds = [this](qint64 ms) { return double(ms - m_playedFromMs) / 1000.0; };
    if (m_played.isEmpty() || cells != m_played.last().cells || m_engine->tagBox() != m_lastTagBox)
        m_played.append({seconds(atMs), cells});
    // A window left playing for hours keeps only its last stretch (about
    // half an hour of a scrolling message), which then starts at 0.
    if (m_played.size() > kMaxPlayedStates) {
        m_played.remove(0, m_played.size() / 2);
        const qint64 shiftMs = qRound64(m_played.first().t * 1000);
        for (LedState &state : m_played)
            state.t = double(qRound64(state.t * 1000) - shiftMs) / 1000.0;
        m_playedFromMs += shiftMs;
    }
    m_lastTagBox = m_engine->tagBox();
    m_view->setCells(cells);
    m_tagBox->setText(m_engine->tagBox());
}

void SimulationWindow::saveAnimation()
{
    // What was played up to the click; the file is asked for first and
    // built off the window's thread, so the window never waits for it.
    const double lastStart = m_played.isEmpty() ? 0 : m_played.last().t;
    const double upTo =
        m_driver
            ? qMax(lastStart, double(m_driver->elapsedNs() / 1000000 - m_playedFromMs) / 1000.0)
            : lastStart;
    QVector<LedState> played = m_played;
    QString path =
        askAnimationFile
            ? askAnimationFile()
            : QFileDialog::getSaveFileName(this, QStringLiteral("Salvar animação"), QString(),
                                           QStringLiteral("Animação SVG (*.svg)"));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".svg");
    QPointer<SimulationWindow> guard(this);
    const RichText message = m_message;
    const int width = m_width;
    QThreadPool::globalInstance()->start([=, played = std::move(played)] {
        // A message that repeats is saved as one round, looped; one that
        // reads the clock as what was played.
        const auto round = firstRound(message, width, kRoundLimitMs);
        const QByteArray svg = round ? ledAnimationSvg(round->states, 0, width, round->loop)
                                     : ledAnimationSvg(played, upTo, width);
        const QString why = messagefile::saveFile(path, svg);
        QMetaObject::invokeMethod(
            qApp,
            [guard, path, why] {
                if (!guard) return;
                if (!why.isEmpty())
                    QMessageBox::warning(
                        guard, QStringLiteral("Letreiro"),
                        QStringLiteral("Não foi possível salvar o arquivo %1.\n%2.")
                            .arg(QFileInfo(path).fileName(), why));
                Q_EMIT guard->animationSaved(path, why.isEmpty());
            },
            Qt::QueuedConnection);
    });
}

void SimulationWindow::engineEnded()
{
    m_driver.reset();
    accept();
}

void SimulationWindow::stop()
{
    if (m_driver)
        m_driver->stop();
    else
        m_engine->requestStop();
}

void SimulationWindow::halt()
{
    // The timers stop with the driver, so nothing runs on a window that is
    // gone.
    m_timer->stop();
    m_engine->requestStop();
    m_driver.reset();
}

void SimulationWindow::closeEvent(QCloseEvent *e)
{
    // The close box ends the simulation at once.
    halt();
    QDialog::closeEvent(e);
}

void SimulationWindow::reject()
{
    halt();
    QDialog::reject();
}

bool SimulationWindow::eventFilter(QObject *watched, QEvent *e)
{
    // Nothing typed reaches the view or the tag box, but the keys that move
    // between the controls, press "Parar" or close the window still work.
    if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
        switch (static_cast<QKeyEvent *>(e)->key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return QDialog::eventFilter(watched, e);
        default:
            return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}
