#pragma once

#include <QList>
#include <QString>

#include <optional>

// "1,3,5-7": panel addresses in the order given, ranges ascending. Nothing
// when any part is not a number or a range from low to high.
std::optional<QList<int>> parseAddressList(const QString &text, int low, int high);
