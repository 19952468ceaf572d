#pragma once

#include "link/fakeline.h"
#include "panelport.h"

// A port whose line and clock are the tests' own.
class FakePanelPort : public PanelPort
{
public:
    bool open(int portNumber, QString *reason) override
    {
        ++opens;
        lastPortNumber = portNumber;
        if (!openOk) {
            *reason = QStringLiteral("/dev/ttyS9: permissão negada");
            return false;
        }
        line.open = true;
        return true;
    }
    void close() override { line.open = false; }
    bool isOpen() const override { return line.open; }
    CommandOutcome run(const LinkOptions &options, LinkListener *listener, const Job &job) override
    {
        m_link.setOptions(options);
        m_link.setListener(listener);
        PanelCommands commands(m_link);
        return job(commands);
    }
    PanelLink &link() { return m_link; }

    VirtualTimebase time;
    FakeLine line{time};
    bool openOk = true;
    int opens = 0;
    int lastPortNumber = 0;

private:
    PanelLink m_link{line, time};
};
