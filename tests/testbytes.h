#pragma once

#include <QByteArray>

#include <initializer_list>

// Bytes written as numbers, for frames in tests.
inline QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}
