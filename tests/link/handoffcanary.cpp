// The child program of tst_handoff: a call queued to a worker thread's event
// loop, carrying values made on the sending thread. "limpo" hands it over
// and leaves it alone; "corrida" has the sender touch what the call touches,
// with nothing in between: a real race that must be reported; "corrida-slot"
// has the touch come from a slot run by the main thread's event loop, as
// every request of the service is, so a rule that hid the event loop's
// frames would hide it.
#include "threadhandoff.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>

namespace
{

int g_touched = 0;
// Relaxed: it orders nothing, for the language as for the sanitizer.
std::atomic<bool> g_senderTouched{false};

// Not inlined, so that the sanitizer's report names it.
Q_NEVER_INLINE void touchShared(int by)
{
    g_touched += by;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool fromSlot = app.arguments().contains(QStringLiteral("corrida-slot"));
    const bool race = fromSlot || app.arguments().contains(QStringLiteral("corrida"));
    QThread worker;
    QObject inbox;
    inbox.moveToThread(&worker);
    worker.start();

    const QString text = QStringLiteral("mensagem %1").arg(app.arguments().size());
    const std::function<int()> length = [text] { return int(text.size()); };
    handoff::queue(&inbox, [text, length, race] {
        // The sender's touch comes first, so the call cannot end (and
        // hand itself back) before it.
        while (race && !g_senderTouched.load(std::memory_order_relaxed))
            QThread::yieldCurrentThread();
        touchShared(length() + int(text.size()));
        QThread::currentThread()->quit();
    });
    const auto senderTouches = [] {
        touchShared(1);
        g_senderTouched.store(true, std::memory_order_relaxed);
    };
    if (fromSlot) {
        QMetaObject::invokeMethod(&app, senderTouches, Qt::QueuedConnection);
        QObject::connect(&worker, &QThread::finished, &app, &QCoreApplication::quit);
        QCoreApplication::exec();
    } else if (race) {
        senderTouches();
    }
    worker.wait();
    return 0;
}
