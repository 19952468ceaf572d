#include "panelactions.h"

#include "debugwindow.h"
#include "documentwindow.h"
#include "encoder.h"
#include "flatten.h"
#include "frame.h"
#include "menubar.h"
#include "messageedit.h"
#include "panelcommands.h"
#include "panelport.h"
#include "prompt.h"
#include "settings.h"
#include "statusbar.h"
#include "toolbar.h"

#include <QAction>
#include <QDateTime>
#include <QLocale>
#include <QMenu>

PanelActions::PanelActions(const Settings &settings, MenuBarActions &menus, StatusPanels &status,
                           Prompt &prompt, PanelPort &port,
                           std::function<DocumentWindow *()> activeEditor, QObject *parent)
    : QObject(parent), m_settings(settings), m_menus(menus), m_status(status), m_prompt(prompt),
      m_port(port), m_activeEditor(std::move(activeEditor))
{
    connect(&m_port, &PanelPort::opened, this, &PanelActions::portOpened);
    connect(&m_port, &PanelPort::finished, this, &PanelActions::exchangeDone);
    connect(&m_port, &PanelPort::lost, this, &PanelActions::portLost);
    // A device server may take seconds to answer; the window goes on.
    connect(&m_port, &PanelPort::connecting, this, [this](const QString &device) {
        m_status.setPanelText(1, QStringLiteral("Conectando a %1…").arg(device));
    });
    connect(&m_port, &PanelPort::statusAppended, this, [this](const QString &text) {
        m_status.setPanelText(1, m_status.panelText(1) + text);
    });
    connect(&m_port, &PanelPort::traceStarted, this, [this](const QString &text) {
        if (m_debug) m_debug->traceStarted(text);
    });
    connect(&m_port, &PanelPort::traceAppended, this, [this](const QString &text) {
        if (m_debug) m_debug->traceAppended(text);
    });
    connect(&m_port, &PanelPort::frameProgress, this, &PanelActions::showProgress);
}

void PanelActions::showProgress(qsizetype written, qsizetype total, qint64 msLeft)
{
    if (!m_busy) return;
    // A frame that is gone within a second needs no bar.
    if (written == 0) m_progressShown = msLeft > 1000;
    if (m_progressShown) m_status.showProgress(written, total, msLeft);
    m_msLeft = msLeft;
    Q_EMIT frameProgress(msLeft);
}

void PanelActions::setAddressProblem(const QString &problem)
{
    m_addressProblem = problem;
    if (!problem.isEmpty()) setTransmissionEnabled(false);
}

void PanelActions::setTransmissionEnabled(bool enabled)
{
    enabled = enabled && m_addressProblem.isEmpty();
    // The menu's commands are the toolbar's buttons too.
    m_menus.mnutrans->menuAction()->setEnabled(enabled);
    for (QAction *a : {m_menus.mnupara, m_menus.mnuapaga, m_menus.mnuinicia, m_menus.mnutransfere,
                       m_menus.mnuhora, m_menus.mnudata})
        a->setEnabled(enabled);
}

void PanelActions::activate()
{
    // Panel types without a simulation: the command goes off, and out of
    // its menu (the toolbar keeps its button, greyed).
    const bool simulated = panelwidth::hasSimulation(m_settings.panelType);
    m_menus.mnusim->setEnabled(simulated);
    if (!simulated)
        m_menus.mnuvisu->removeAction(m_menus.mnusim);
    else if (!m_menus.mnuvisu->actions().contains(m_menus.mnusim))
        m_menus.mnuvisu->insertAction(m_menus.mnuferra, m_menus.mnusim);
    if (m_portState == PortState::Opening) return;
    if (m_portState == PortState::Open && !m_reopen) return;
    m_reopen = false;
    m_portState = PortState::Opening;
    setTransmissionEnabled(false);
    m_port.open(m_settings.portNumber);
}

void PanelActions::portOpened(bool ok, const QString &reason)
{
    if (!ok) {
        m_portState = PortState::Closed;
        setTransmissionEnabled(false);
        // The reason stays where the operator can read it.
        m_status.setPanelText(1, reason);
        m_portReason = reason;
        m_menus.mnutrans->menuAction()->setToolTip(reason);
        // One box at a time, once per start and once per return to the
        // program.
        if (!m_portComplained) {
            m_portComplained = true;
            m_prompt.warning(QStringLiteral("Porta de Comunicação não disponível!!!"));
        }
        return;
    }
    m_portState = PortState::Open;
    const QString shown = m_status.panelText(1);
    if ((!m_portReason.isEmpty() && shown == m_portReason) ||
        shown.startsWith(QLatin1String("Conectando a ")))
        m_status.setPanelText(1, QString());
    m_portReason.clear();
    m_menus.mnutrans->menuAction()->setToolTip(QString());
    setTransmissionEnabled(!m_busy);
    if (m_settings.tipsHidden == 0) showTips();
}

void PanelActions::portLost(const QString &reason)
{
    // A pulled-out adapter: the next return to the program opens it again.
    m_portState = PortState::Closed;
    m_portReason = reason;
    if (!m_busy) {
        setTransmissionEnabled(false);
        m_status.setPanelText(1, reason);
    }
}

void PanelActions::closePort()
{
    m_portState = PortState::Closed;
    m_port.close();
}

void PanelActions::programLeft()
{
    m_portComplained = false;
}

void PanelActions::run(const PanelPort::Job &send)
{
    if (m_busy || !m_addressProblem.isEmpty()) return;
    m_busy = true;
    m_progressShown = false;
    m_msLeft = -1;
    // Any other command is refused until the frame ends: its buttons say so.
    setTransmissionEnabled(false);
    m_menus.mnuconfig->setEnabled(false);
    m_status.setPanelText(1, status::kSending);
    m_port.setTraceWanted(traceWanted());
    // The outcome comes back as a signal; nothing here waits for it.
    m_port.run(LinkOptions{m_settings.panelType, m_settings.usbAdapter != 0}, send);
}

void PanelActions::exchangeDone(const CommandOutcome &outcome)
{
    if (!m_busy) return;
    m_status.setPanelText(1, outcome.statusWithReason());
    if (!outcome.succeeded && m_debug && traceWanted())
        m_debug->traceAppended(outcome.statusWithReason() + QStringLiteral("\r\n"));
    m_busy = false;
    m_status.hideProgress();
    setTransmissionEnabled(m_portState == PortState::Open);
    m_menus.mnuconfig->setEnabled(true);
    Q_EMIT exchangeFinished();
}

void PanelActions::finishForExit()
{
    if (!m_busy) return;
    m_status.setPanelText(
        1, QStringLiteral("Encerrando: aguardando o fim do quadro que está sendo enviado…"));
    m_status.repaint();
    m_port.finishSoon();
}

void PanelActions::transfer()
{
    if (m_busy) return;
    DocumentWindow *doc = m_activeEditor();
    if (!doc) {
        // Nothing is sent; an earlier outcome must not look like this one's.
        m_status.setPanelText(1, QStringLiteral("Nenhuma mensagem aberta para transferir."));
        return;
    }
    const RichText text = doc->editor()->richText();
    if (text.isEmpty()) {
        m_prompt.warning(QStringLiteral("Favor editar uma mensagem!!!"));
        return;
    }
    const QByteArray field = loadCommandField(text);
    // More than a frame carries is cut: the operator decides, before
    // anything is sent.
    const qsizetype encoded = encodeMessage(field, m_settings.panelType).size();
    if (encoded > frame::kMaxData) {
        const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
        if (!m_prompt.confirm(
                QStringLiteral("A mensagem tem %1 caracteres codificados e o painel recebe no "
                               "máximo %2: os últimos %3 serão cortados.\n\nEnviar assim mesmo?")
                    .arg(brazil.toString(qint64(encoded)), brazil.toString(qint64(frame::kMaxData)),
                         brazil.toString(qint64(encoded - frame::kMaxData)))))
            return;
    }
    // The command runs where the line lives: it takes copies, not references.
    const qint16 address = qint16(m_settings.panelAddress);
    run([address, field](PanelCommands &c) { return c.transfer(address, field); });
}

void PanelActions::letter(char command)
{
    const qint16 address = qint16(m_settings.panelAddress);
    run([address, command](PanelCommands &c) { return c.letter(address, command); });
}

void PanelActions::setClock()
{
    const QDateTime now = QDateTime::currentDateTime();
    run([now](PanelCommands &c) { return c.setClock(now); });
}

void PanelActions::setDate()
{
    const QDateTime now = QDateTime::currentDateTime();
    run([now](PanelCommands &c) { return c.setDate(now); });
}

void PanelActions::setDebugWindow(DebugWindow *window)
{
    m_debug = window;
}

bool PanelActions::traceWanted() const
{
    return m_debug;
}
