#include "addresslist.h"

#include <QStringList>

std::optional<QList<int>> parseAddressList(const QString &text, int low, int high)
{
    QList<int> out;
    const auto number = [&](const QString &s) -> std::optional<int> {
        bool ok = false;
        const int v = s.trimmed().toInt(&ok);
        if (!ok || v < low || v > high) return std::nullopt;
        return v;
    };
    for (const QString &part : text.split(QLatin1Char(','))) {
        const int dash = int(part.indexOf(QLatin1Char('-'), 1));
        if (dash < 0) {
            const auto v = number(part);
            if (!v) return std::nullopt;
            out.append(*v);
            continue;
        }
        const auto from = number(part.left(dash)), to = number(part.mid(dash + 1));
        if (!from || !to || *from > *to) return std::nullopt;
        for (int a = *from; a <= *to; ++a)
            out.append(a);
    }
    return out;
}
