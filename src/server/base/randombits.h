#pragma once

#include <QByteArray>
#include <QRandomGenerator>

// Random bytes from the system's source: salts, session ids, tokens. Made
// here and nowhere else.
inline QByteArray randomBytes(int n)
{
    QByteArray b((n + 3) / 4 * 4, Qt::Uninitialized);
    QRandomGenerator::system()->generate(reinterpret_cast<quint32 *>(b.data()),
                                         reinterpret_cast<quint32 *>(b.data() + b.size()));
    b.truncate(n);
    return b;
}

// 256 random bits as hex: a session id or a token.
inline QByteArray randomHex256()
{
    return randomBytes(32).toHex();
}
