#pragma once

#include <QElapsedTimer>

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

inline void report(const char *what, double value, const char *unit, const char *goal, bool met)
{
    std::printf("%-55s %10.3f %-5s goal %-10s %s\n", what, value, unit, goal,
                met ? "ok" : "MISSED");
}
