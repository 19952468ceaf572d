#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <functional>

// Wrong logins, counted where guessing comes from and where it aims: five
// from one address within a minute shut that address out for the rest of
// the minute; ten for one account within ten minutes, from anywhere, shut
// out that account alone (others, and the same person on another account,
// go on). Time comes from the clock given, in milliseconds.
class LoginLimiter
{
public:
    using Clock = std::function<qint64()>;
    explicit LoginLimiter(Clock clock);

    // Seconds until a login for this account from this address may be
    // tried, or 0 when it may now.
    int retryAfter(const QString &address, const QString &account);

    // An attempt takes its place as a failure before its password is
    // checked, so that guesses made at once count as many, not as one.
    struct Attempt {
        int retryAfter = 0; // refused: seconds to wait; nothing was counted
        qint64 at = 0;
    };
    Attempt attempt(const QString &address, const QString &account);
    // The password was right: its place is given back.
    void succeeded(const Attempt &a, const QString &address, const QString &account);

private:
    struct Rule {
        int failures;
        qint64 windowMs;
    };
    int wait(QHash<QString, QList<qint64>> &failures, const QString &key, Rule rule, qint64 now);
    void forgetOld(qint64 now);

    Clock m_clock;
    QHash<QString, QList<qint64>> m_byAddress; // ms of each wrong login
    QHash<QString, QList<qint64>> m_byAccount;
    qint64 m_lastSweep = 0;
};
