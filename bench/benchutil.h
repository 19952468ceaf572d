#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <vector>

// Runs f `runs` times and returns the median time in milliseconds.
template <typename F> double medianMs(int runs, F &&f)
{
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        f();
        t.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// A process's resident memory in kB (Linux), or -1.
inline qint64 residentKb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

inline void report(const char *what, double value, const char *unit, const char *goal, bool met)
{
    std::printf("%-55s %10.3f %-5s goal %-10s %s\n", what, value, unit, goal,
                met ? "ok" : "MISSED");
}

// A service's configuration in folder: one line on device, one panel "p"
// at address 1, listening on a free port of 127.0.0.1. Its path.
inline QString writeServiceConfig(const QString &folder, const QString &device)
{
    QFile cfg(folder + QStringLiteral("/s.ini"));
    cfg.open(QIODevice::WriteOnly);
    cfg.write(QStringLiteral("[servidor]\nescuta = 127.0.0.1:0\n[linha l]\nporta = %1\n"
                             "[painel p]\nlinha = l\nendereco = 1\n")
                  .arg(device)
                  .toUtf8());
    return cfg.fileName();
}
