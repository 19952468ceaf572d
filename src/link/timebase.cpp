#include "timebase.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

void Timebase::pause(qint64 ms)
{
    const qint64 end = elapsedMs() + ms;
    for (qint64 now = elapsedMs(); now < end; now = elapsedMs())
        waitMs(end - now);
}

EventLoopTimebase::EventLoopTimebase(QObject *parent) : QObject(parent)
{
    m_clock.start();
}

qint64 EventLoopTimebase::elapsedMs() const
{
    return m_clock.elapsed();
}

qint64 EventLoopTimebase::elapsedUs() const
{
    return m_clock.nsecsElapsed() / 1000;
}

void EventLoopTimebase::sleepUs(qint64 us)
{
    if (us > 0) QThread::usleep(quint64(us));
}

void EventLoopTimebase::waitMs(qint64 ms)
{
    if (ms <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(int(qMin<qint64>(ms, 1 << 30)));
    QEventLoop *outer = m_loop;
    m_loop = &loop;
    loop.exec();
    m_loop = outer;
}

void EventLoopTimebase::wake()
{
    if (m_loop) m_loop->quit();
}
