#include "statusbar.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTimer>

namespace
{

// The first panel: the outcome of the last command, however long, never
// widens the window. What does not fit on one line wraps onto the next
// (the status bar grows upwards), so a failure's reason is read whole; the
// whole text is in its tooltip too.
class OutcomeLabel : public QLabel
{
public:
    explicit OutcomeLabel(QWidget *parent) : QLabel(parent) { setWordWrap(true); }
    QSize sizeHint() const override { return {0, oneLine()}; }
    QSize minimumSizeHint() const override { return {0, oneLine()}; }

private:
    int oneLine() const { return fontMetrics().height() + height() - contentsRect().height(); }
};

const QString kSizeTip = QStringLiteral("Tamanho da mensagem codificada / o que o painel recebe");

QString brazilian(qsizetype n)
{
    return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(qint64(n));
}

} // namespace

QString versionText()
{
    return QStringLiteral("Versão %1.%2.%3")
        .arg(LETREIRO_VERSION_MAJOR)
        .arg(LETREIRO_VERSION_MINOR)
        .arg(LETREIRO_VERSION_PATCH);
}

StatusPanels::StatusPanels(QWidget *parent) : QStatusBar(parent)
{
    setObjectName(QStringLiteral("sbStatusBar"));
    // The active message's size against what one frame carries, first of
    // the panels on the right.
    m_size = new QLabel(this);
    m_size->setObjectName(QStringLiteral("sbTamanho"));
    m_size->setFrameShape(QFrame::StyledPanel);
    m_size->setFrameShadow(QFrame::Sunken);
    m_size->setContentsMargins(4, 0, 4, 0);
    m_size->setToolTip(kSizeTip);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("sbProgresso"));
    m_progress->setAccessibleName(QStringLiteral("Progresso da transmissão"));
    m_progress->setMaximumWidth(140);
    m_progress->hide();
    for (int i = 0; i < 6; ++i) {
        if (i == 1) {
            addWidget(m_progress);
            addPermanentWidget(m_size);
        }
        m_panels[i] = i == 0 ? new OutcomeLabel(this) : new QLabel(this);
        m_panels[i]->setObjectName(QStringLiteral("sbPanel%1").arg(i + 1));
        m_panels[i]->setFrameShape(QFrame::StyledPanel);
        m_panels[i]->setFrameShadow(QFrame::Sunken);
        m_panels[i]->setContentsMargins(4, 0, 4, 0);
        if (i == 0)
            addWidget(m_panels[i], 1);
        else
            addPermanentWidget(m_panels[i]);
    }
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &StatusPanels::tick);
    timer->start(1000);
    tick();
}

void StatusPanels::setPanelText(int panel, const QString &text)
{
    if (panel < 1 || panel > 6) return;
    m_panels[panel - 1]->setText(text);
    if (panel == 1) m_panels[0]->setToolTip(text);
}

QString StatusPanels::panelText(int panel) const
{
    return panel >= 1 && panel <= 6 ? m_panels[panel - 1]->text() : QString();
}

void StatusPanels::setMessageSize(qsizetype bytes, qsizetype limit)
{
    if (bytes < 0) {
        m_size->clear();
        return;
    }
    const QString count = QStringLiteral("%1 / %2").arg(brazilian(bytes), brazilian(limit));
    const bool over = bytes > limit;
    // A message that no longer fits says so as it is typed, not when sent.
    m_size->setText(over ? count + QStringLiteral(": não cabe no painel") : count);
    m_size->setStyleSheet(over ? QStringLiteral("color: #a00000; font-weight: bold") : QString());
    m_size->setToolTip(over ? QStringLiteral("A mensagem passa do que o painel recebe: ao "
                                             "transferir, os últimos %1 caracteres codificados "
                                             "serão cortados (o programa pergunta antes).")
                                  .arg(brazilian(bytes - limit))
                            : kSizeTip);
}

void StatusPanels::showProgress(qsizetype written, qsizetype total, qint64 msLeft)
{
    m_progress->setRange(0, int(total));
    m_progress->setValue(int(written));
    // Whole seconds, rounded up; once the frame is out, its answer is awaited.
    const QString left = written < total ? QStringLiteral("restam %1 s").arg((msLeft + 999) / 1000)
                                         : QStringLiteral("aguardando resposta");
    m_progress->setFormat(left);
    m_progress->setAccessibleDescription(left);
    m_progress->show();
}

void StatusPanels::hideProgress()
{
    m_progress->hide();
}

QString StatusPanels::progressText() const
{
    return m_progress->isHidden() ? QString() : m_progress->format();
}

QString StatusPanels::messageSize() const
{
    return m_size->text();
}

void StatusPanels::tick()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale;
    m_panels[4]->setText(locale.toString(now.date(), QLocale::ShortFormat));
    m_panels[5]->setText(locale.toString(now.time(), QLocale::ShortFormat));
}
