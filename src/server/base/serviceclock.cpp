#include "serviceclock.h"

#include <QElapsedTimer>
#include <QTimer>

namespace
{
class SystemClock : public ServiceClock
{
public:
    SystemClock() { m_started.start(); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 epochMs() const override { return QDateTime::currentMSecsSinceEpoch(); }
    qint64 monotonicMs() const override { return m_started.elapsed(); }
    void after(qint64 ms, QObject *context, std::function<void()> f) override
    {
        QTimer::singleShot(std::chrono::milliseconds(qMax<qint64>(0, ms)), context, std::move(f));
    }

private:
    QElapsedTimer m_started;
};
} // namespace

ServiceClock &ServiceClock::system()
{
    static SystemClock clock;
    return clock;
}
