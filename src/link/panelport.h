#pragma once

#include "panellink.h"

#include <QObject>
#include <QString>

#include <memory>

class QtSerialLine;
class EventLoopTimebase;

// The serial line as the desktop program holds it: opened by number at the
// main window's activation, with the link that talks over it.
class PanelPort : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // Opens port n; on failure returns false with the reason in Portuguese.
    virtual bool open(int portNumber, QString *reason) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual PanelLink &link() = 0;

Q_SIGNALS:
    // The device went away; the next activation opens it again.
    void lost();
};

// The real one: QSerialPort, a monotonic clock and event-loop waits.
class SerialPanelPort : public PanelPort
{
    Q_OBJECT
public:
    explicit SerialPanelPort(QObject *parent = nullptr);
    ~SerialPanelPort() override;
    bool open(int portNumber, QString *reason) override;
    void close() override;
    bool isOpen() const override;
    PanelLink &link() override { return *m_link; }

private:
    QtSerialLine *m_line;
    EventLoopTimebase *m_time;
    std::unique_ptr<PanelLink> m_link;
};
