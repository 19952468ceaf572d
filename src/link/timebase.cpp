#include "timebase.h"

void Timebase::pause(qint64 ms)
{
    const qint64 end = elapsedMs() + ms;
    for (qint64 now = elapsedMs(); now < end; now = elapsedMs())
        waitMs(end - now);
}
