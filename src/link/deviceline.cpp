#include "deviceline.h"

#include "qtserialline.h"
#include "tcpline.h"

#include <QThread>

bool DeviceLine::isNetworkDevice(const QString &device)
{
    return device.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive);
}

std::unique_ptr<DeviceLine> DeviceLine::forDevice(const QString &device, QObject *parent)
{
    if (isNetworkDevice(device)) return std::make_unique<TcpLine>(parent);
    return std::make_unique<QtSerialLine>(parent);
}

void LineTimebase::sleepUs(qint64 us)
{
    if (us > 0) QThread::usleep(quint64(us));
}

void LineTimebase::waitMs(qint64 ms)
{
    if (ms <= 0) return;
    const qint64 end = elapsedMs() + ms;
    if (m_line && m_line->isOpen()) {
        if (m_line->waitForActivity(int(qMin<qint64>(ms, 1 << 30)))) return;
        // A line that failed during the wait is looked at again at once.
        if (!m_line->isOpen()) return;
    }
    // Nothing to wait on (or a wait that gave up early): only time passes.
    const qint64 left = end - elapsedMs();
    if (left > 0) QThread::msleep(quint64(left));
}
