#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>

#include <functional>
#include <utility>

// A call handed to the thread of another object, through that thread's
// event queue. Under ThreadSanitizer the hand-off says so itself: Debian's
// Qt is not built with the sanitizer, so the lock that carries a queued call
// from one thread to the other is invisible to it, and everything the call
// carries would look like a race. In any other build it is a plain queued
// call and costs nothing more.
#if defined(__SANITIZE_THREAD__)
#define LETREIRO_ANNOTATE_HANDOFF 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LETREIRO_ANNOTATE_HANDOFF 1
#endif
#endif

#ifdef LETREIRO_ANNOTATE_HANDOFF
#include <sanitizer/tsan_interface.h>
#endif

namespace handoff
{

// What one thread did before release(p) happens before what another does
// after acquire(p): for hand-overs that Qt synchronises out of sight
// (QThread::wait() before deleting what the thread used).
inline void release([[maybe_unused]] const void *p)
{
#ifdef LETREIRO_ANNOTATE_HANDOFF
    __tsan_release(const_cast<void *>(p));
#endif
}

inline void acquire([[maybe_unused]] const void *p)
{
#ifdef LETREIRO_ANNOTATE_HANDOFF
    __tsan_acquire(const_cast<void *>(p));
#endif
}

#ifdef LETREIRO_ANNOTATE_HANDOFF
// The call synchronises on its own address, the one thing the other thread
// knows without reading it: released each time it is moved into place (Qt's
// slot object is whole once its last move ends) and after it ran, acquired
// before it runs and before it is destroyed, which happens on whichever
// thread lets go of it last (the sender, when the call ran at once; the
// receiver's, when its receiver went away before it ran).
template <typename F> class AnnotatedCall
{
public:
    explicit AnnotatedCall(F f) : m_f(std::move(f)) { release(this); }
    AnnotatedCall(AnnotatedCall &&o) noexcept : m_f(std::move(o.m_f)) { release(this); }
    // std::function, which a thread pool takes, copies its callable.
    AnnotatedCall(const AnnotatedCall &o) : m_f(o.m_f) { release(this); }
    ~AnnotatedCall() { acquire(this); }
    void operator()()
    {
        acquire(this);
        m_f();
        release(this);
    }

private:
    F m_f;
};
#endif

// Runs f on receiver's thread, after what is already queued there.
template <typename F> void queue(QObject *receiver, F f)
{
#ifdef LETREIRO_ANNOTATE_HANDOFF
    QMetaObject::invokeMethod(receiver, AnnotatedCall<F>(std::move(f)), Qt::QueuedConnection);
#else
    QMetaObject::invokeMethod(receiver, std::move(f), Qt::QueuedConnection);
#endif
}

// Runs f on one of pool's threads.
template <typename F> void start(QThreadPool *pool, F f)
{
#ifdef LETREIRO_ANNOTATE_HANDOFF
    pool->start(std::function<void()>(AnnotatedCall<F>(std::move(f))));
#else
    pool->start(std::move(f));
#endif
}

} // namespace handoff
