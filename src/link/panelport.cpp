#include "panelport.h"

#include "portnames.h"
#include "qtserialline.h"
#include "timebase.h"

SerialPanelPort::SerialPanelPort(QObject *parent)
    : PanelPort(parent), m_line(new QtSerialLine(this)), m_time(new EventLoopTimebase(this)),
      m_link(std::make_unique<PanelLink>(*m_line, *m_time))
{
    connect(m_line, &QtSerialLine::activity, m_time, &EventLoopTimebase::wake);
    connect(m_line, &QtSerialLine::lost, this, &PanelPort::lost);
}

SerialPanelPort::~SerialPanelPort() = default;

bool SerialPanelPort::open(int portNumber, QString *reason)
{
    const QString device = portnames::resolve(portNumber);
    if (device.isEmpty()) {
        *reason = QStringLiteral("não há porta serial número %1").arg(portNumber);
        return false;
    }
    // An open port is closed and opened again.
    return m_line->open(device, reason);
}

void SerialPanelPort::close()
{
    m_line->close();
}

bool SerialPanelPort::isOpen() const
{
    return m_line->isOpen();
}
