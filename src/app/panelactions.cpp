#include "panelactions.h"

#include "debugwindow.h"
#include "documentwindow.h"
#include "flatten.h"
#include "menubar.h"
#include "messageedit.h"
#include "panelcommands.h"
#include "panelport.h"
#include "prompt.h"
#include "sharedsettings.h"
#include "statusbar.h"
#include "toolbar.h"

#include <QAction>
#include <QDateTime>
#include <QMenu>

PanelActions::PanelActions(SharedSettings &settings, MenuBarActions &menus,
                           const QVector<QAction *> &toolbarButtons, StatusPanels &status,
                           Prompt &prompt, PanelPort &port,
                           std::function<DocumentWindow *()> activeEditor, QObject *parent)
    : QObject(parent), m_settings(settings), m_menus(menus), m_buttons(toolbarButtons),
      m_status(status), m_prompt(prompt), m_port(port), m_activeEditor(std::move(activeEditor))
{
    // A pulled-out adapter: the next activation opens the port again.
    connect(&m_port, &PanelPort::lost, this, [this] { m_settings.portReady = 0; });
}

void PanelActions::setAddressProblem(const QString &problem)
{
    m_addressProblem = problem;
    if (!problem.isEmpty()) setTransmissionEnabled(false);
}

void PanelActions::setTransmissionEnabled(bool enabled)
{
    enabled = enabled && m_addressProblem.isEmpty();
    m_menus.mnutrans->menuAction()->setEnabled(enabled);
    for (int n = kFirstTransmissionButton; n <= kLastTransmissionButton; ++n)
        m_buttons[n - 1]->setEnabled(enabled);
}

void PanelActions::activate()
{
    if (m_settings.portReady == 0) {
        QString reason;
        if (!m_port.open(m_settings.portNumber, &reason)) {
            setTransmissionEnabled(false);
            // The reason stays where the operator can look it up.
            m_status.setPanelText(1, reason);
            m_portReason = reason;
            m_menus.mnutrans->menuAction()->setToolTip(reason);
            // One box at a time, once per start and once per return to the
            // program: activations come from the window showing, from the
            // program becoming active, and from closing this very box.
            if (!m_portComplained) {
                m_portComplained = true;
                m_prompt.message(QStringLiteral("Porta de Comunicação não disponível!!!"));
            }
            return;
        }
        if (!m_portReason.isEmpty() && m_status.panelText(1) == m_portReason)
            m_status.setPanelText(1, QString());
        m_portReason.clear();
        m_menus.mnutrans->menuAction()->setToolTip(QString());
        setTransmissionEnabled(true);
        m_settings.portReady = 1;
        if (m_settings.tipsHidden == 0) showTips();
    }
    m_menus.mnusim->setVisible(m_settings.panelType >= 0 && m_settings.panelType <= 5);
}

void PanelActions::programLeft()
{
    m_portComplained = false;
}

void PanelActions::run(const PanelPort::Job &send)
{
    if (m_busy || !m_addressProblem.isEmpty()) return;
    m_busy = true;
    m_menus.mnutrans->menuAction()->setEnabled(false);
    m_menus.mnuconfig->setEnabled(false);
    m_status.setPanelText(1, status::kSending);
    m_status.setToolTip(QString());
    const CommandOutcome outcome =
        m_port.run(LinkOptions{m_settings.panelType, m_settings.usbAdapter != 0}, this, send);
    if (!outcome.refused) {
        m_status.setPanelText(1, outcome.status);
        if (!outcome.portError.isEmpty()) m_status.setToolTip(outcome.portError);
    }
    setTransmissionEnabled(true);
    m_menus.mnuconfig->setEnabled(true);
    m_busy = false;
    Q_EMIT exchangeFinished();
}

void PanelActions::transfer()
{
    if (m_busy) return;
    DocumentWindow *doc = m_activeEditor();
    if (!doc) return;
    const RichText text = doc->editor()->richText();
    if (text.isEmpty()) {
        m_prompt.message(QStringLiteral("Favor editar uma mensagem!!!"));
        return;
    }
    const QByteArray field = loadCommandField(text);
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

void PanelActions::statusAppended(const QString &text)
{
    m_status.setPanelText(1, m_status.panelText(1) + text);
}

bool PanelActions::traceWanted() const
{
    return m_settings.debugOpen != 0 && m_debug;
}

void PanelActions::traceStarted(const QString &text)
{
    if (m_debug) m_debug->traceStarted(text);
}

void PanelActions::traceAppended(const QString &text)
{
    if (m_debug) m_debug->traceAppended(text);
}
