#pragma once

#include "serialline.h"

#include <QObject>

#include <memory>

// A line the program opens by name: a serial device ("COM3",
// "/dev/ttyUSB0") or a serial device server's raw TCP port
// ("tcp://10.0.0.5:4001"). Both tell when something happened on them, so
// that waits end early, and when the far end went away.
class DeviceLine : public QObject, public SerialLine
{
    Q_OBJECT
public:
    using QObject::QObject;
    // On failure returns false with the reason in Portuguese in *error.
    virtual bool open(const QString &device, QString *error = nullptr) = 0;
    virtual void close() = 0;

    // A line of the kind the name asks for, not yet open.
    static std::unique_ptr<DeviceLine> forDevice(const QString &device, QObject *parent = nullptr);
    static bool isNetworkDevice(const QString &device);

Q_SIGNALS:
    // Bytes came in or went out, or an error.
    void activity();
    // The device went away (a USB adapter pulled out, a connection dropped).
    void lost();
};
