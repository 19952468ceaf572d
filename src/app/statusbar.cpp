#include "statusbar.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QTimer>

namespace
{

// The first panel: the outcome of the last command, however long, never
// widens the window; what does not fit is elided, and the whole text is in
// its tooltip.
class OutcomeLabel : public QLabel
{
public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return {0, QLabel::sizeHint().height()}; }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent *e) override
    {
        QFrame::paintEvent(e);
        QPainter p(this);
        const QRect r = contentsRect();
        p.drawText(r, Qt::AlignVCenter | Qt::AlignLeft,
                   fontMetrics().elidedText(text(), Qt::ElideRight, r.width()));
    }
};

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
    m_size->setToolTip(QStringLiteral("Tamanho da mensagem codificada / o que o painel recebe"));
    for (int i = 0; i < 6; ++i) {
        if (i == 1) addPermanentWidget(m_size);
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
    const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    m_size->setText(QStringLiteral("%1 / %2").arg(brazil.toString(qint64(bytes)),
                                                  brazil.toString(qint64(limit))));
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
