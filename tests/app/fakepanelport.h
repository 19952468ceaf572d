#pragma once

#include "link/fakeline.h"
#include "panelport.h"

// A port whose line and clock are the tests' own. It answers at once,
// inside the request, as a port whose thread is very quick would.
class FakePanelPort : public PanelPort, private LinkListener
{
public:
    void open(int) override
    {
        ++opens;
        if (!holdOpen) finishOpen();
    }
    // What a slow port's thread says at last, when holdOpen kept it back.
    void finishOpen()
    {
        line.open = openOk;
        Q_EMIT opened(openOk, openOk ? QString() : QStringLiteral("/dev/ttyS9: permissão negada"));
    }
    void close() override { line.open = false; }
    void run(const LinkOptions &options, const Job &job) override
    {
        m_link.setOptions(options);
        m_link.setListener(this);
        PanelCommands commands(m_link);
        const CommandOutcome outcome = job(commands);
        m_link.setListener(nullptr);
        Q_EMIT finished(outcome);
    }
    void setTraceWanted(bool wanted) override { m_traceWanted = wanted; }
    void finishSoon() override {}

    VirtualTimebase time;
    FakeLine line{time};
    bool openOk = true, holdOpen = false;
    int opens = 0;

private:
    void statusAppended(const QString &t) override { Q_EMIT PanelPort::statusAppended(t); }
    bool traceWanted() const override { return m_traceWanted; }
    void traceStarted(const QString &t) override { Q_EMIT PanelPort::traceStarted(t); }
    void traceAppended(const QString &t) override { Q_EMIT PanelPort::traceAppended(t); }
    void frameProgress(qsizetype written, qsizetype total, qint64 msLeft) override
    {
        Q_EMIT PanelPort::frameProgress(written, total, msLeft);
    }

    bool m_traceWanted = false;
    PanelLink m_link{line, time};
};
