#include "deviceline.h"

#include "qtserialline.h"
#include "tcpline.h"

bool DeviceLine::isNetworkDevice(const QString &device)
{
    return device.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive);
}

std::unique_ptr<DeviceLine> DeviceLine::forDevice(const QString &device, QObject *parent)
{
    if (isNetworkDevice(device)) return std::make_unique<TcpLine>(parent);
    return std::make_unique<QtSerialLine>(parent);
}
