#include "simulationwindow.h"

#include "simdrivers.h"

#include <QCloseEvent>

#include <QFontMetricsF>
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

QColor toQColor(ColourRef c)
{
    return QColor(colourRed(c), colourGreen(c), colourBlue(c));
}

} // namespace

SimulationWindow::SimulationWindow(int width, const QString &caption, const RichText &message,
                                   SimulationEngine::WallClock wallClock, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_width(width),
      m_engine(std::make_unique<SimulationEngine>(
          message, width,
          wallClock ? std::move(wallClock) : [] { return QDateTime::currentDateTime(); })),
      m_timer(new QTimer(this)), m_view(new QTextEdit(this)), m_aux(new QTextEdit(this)),
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

    // The view: exactly W cells of the fixed-pitch font, one line.
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(simwidth::characterSize(width));
    m_view->setFont(font);
    m_view->document()->setDefaultFont(font);
    m_view->document()->setDocumentMargin(2);
    m_view->setReadOnly(true);
    m_view->setTextInteractionFlags(Qt::NoTextInteraction);
    m_view->setLineWrapMode(QTextEdit::NoWrap);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setStyleSheet(QStringLiteral("QTextEdit { background: black; }"));
    m_view->setFocusPolicy(Qt::NoFocus);
    const QFontMetricsF fm(font);
    const int cellsW = int(std::ceil(fm.horizontalAdvance(QString(width, QLatin1Char('M'))))) +
                       2 * 2 + 2 * m_view->frameWidth() + 2;
    const int viewW = qMax(px(l.viewW), cellsW);
    const int viewH = qMax(px(l.viewH), int(std::ceil(fm.height())) + 4 + 2 * m_view->frameWidth());
    m_view->setGeometry(px(l.viewX), px(l.viewY), viewW, viewH);
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
    m_view->installEventFilter(this);
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
                &SimulationWindow::showState);
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
    QString html;
    for (const auto &cell : m_engine->cells()) {
        if (!cell) {
            html += QLatin1String("&nbsp;");
            continue;
        }
        const QString ch = cell->ch == QLatin1Char(' ') ? QStringLiteral("&nbsp;")
                                                        : QString(cell->ch).toHtmlEscaped();
        html += QStringLiteral("<span style=\"color:%1;%2\">%3</span>")
                    .arg(toQColor(cell->format.colour).name(),
                         cell->format.bold ? QStringLiteral("font-weight:bold;") : QString(), ch);
    }
    m_view->setHtml(QStringLiteral("<div style=\"white-space:pre\">%1</div>").arg(html));
    m_tagBox->setText(m_engine->tagBox());
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
