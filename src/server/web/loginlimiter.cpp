#include "loginlimiter.h"

#include <algorithm>

namespace
{
constexpr qint64 kMinuteMs = 60 * 1000;
constexpr int kPerAddress = 5;
constexpr int kPerAccount = 10;
constexpr qint64 kAccountWindowMs = 10 * kMinuteMs;
// Account names are the client's word: only so much of one is kept.
constexpr int kMaxAccountKey = 128;
} // namespace

LoginLimiter::LoginLimiter(Clock clock) : m_clock(std::move(clock)) {}

int LoginLimiter::wait(QHash<QString, QList<qint64>> &failures, const QString &key, Rule rule,
                       qint64 now)
{
    const auto it = failures.find(key);
    if (it == failures.end()) return 0;
    QList<qint64> &f = *it;
    f.erase(std::remove_if(f.begin(), f.end(), [&](qint64 t) { return now - t >= rule.windowMs; }),
            f.end());
    if (f.size() < rule.failures) return 0;
    // Free again when the oldest of the last `failures` leaves the window.
    const qint64 freeAt = f[f.size() - rule.failures] + rule.windowMs;
    return int((freeAt - now + 999) / 1000);
}

int LoginLimiter::retryAfter(const QString &address, const QString &account)
{
    const qint64 now = m_clock();
    forgetOld(now);
    return std::max(
        wait(m_byAddress, address, {kPerAddress, kMinuteMs}, now),
        wait(m_byAccount, account.left(kMaxAccountKey), {kPerAccount, kAccountWindowMs}, now));
}

LoginLimiter::Attempt LoginLimiter::attempt(const QString &address, const QString &account)
{
    if (const int wait = retryAfter(address, account)) return {wait, 0};
    const qint64 now = m_clock();
    m_byAddress[address].append(now);
    m_byAccount[account.left(kMaxAccountKey)].append(now);
    return {0, now};
}

void LoginLimiter::succeeded(const Attempt &a, const QString &address, const QString &account)
{
    for (QList<qint64> *f : {&m_byAddress[address], &m_byAccount[account.left(kMaxAccountKey)]})
        if (const qsizetype i = f->lastIndexOf(a.at); i >= 0) f->removeAt(i);
}

// Guesses at names that do not exist would otherwise be kept for ever.
void LoginLimiter::forgetOld(qint64 now)
{
    if (now - m_lastSweep < kMinuteMs) return;
    m_lastSweep = now;
    for (auto *failures : {&m_byAddress, &m_byAccount})
        for (auto it = failures->begin(); it != failures->end();)
            it = !it->isEmpty() && now - it->last() < kAccountWindowMs ? std::next(it)
                                                                       : failures->erase(it);
}
