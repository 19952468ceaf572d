#pragma once

#include <QString>
#include <QStringList>

// How the settings' port number n finds a device.
//  - On Windows, port n is "COMn".
//  - Elsewhere, the environment variable LETREIRO_PORTAS may name devices
//    for one run ("COM1=/dev/pts/7;COM2=/dev/ttyS1"); then the per-user
//    store's section "Portas", key "COMn"; otherwise port n is the n-th
//    serial port the system lists, USB adapters (ttyUSB*, ttyACM*) first.
namespace portnames
{

// USB adapters first, then the rest; numbers in names sort as numbers.
QStringList ordered(QStringList systemNames);
// The device that LETREIRO_PORTAS gives port n, or an empty string.
QString fromOverrides(const QString &overrides, int n);
// The device of port n on this system, or an empty string.
QString resolve(int n);
// The system's serial ports, ordered, as device paths.
QStringList systemPorts();

} // namespace portnames
