#include "ledfont.h"

#include <algorithm>
#include <iterator>

namespace ledfont
{
namespace
{

struct Entry {
    char16_t code;
    Glyph glyph;
};

constexpr Entry kTable[] = {
#include "ledfont_table.inc"
};

constexpr Glyph kStandIn = {{0x1E, 0x12, 0x12, 0x12, 0x12, 0x1E, 0x00}};

const Entry *find(QChar c)
{
    // The table is in code order.
    const auto it = std::lower_bound(std::begin(kTable), std::end(kTable), c.unicode(),
                                     [](const Entry &e, char16_t code) { return e.code < code; });
    return it != std::end(kTable) && it->code == c.unicode() ? it : nullptr;
}

} // namespace

bool hasGlyph(QChar c)
{
    return find(c) != nullptr;
}

const Glyph &glyph(QChar c)
{
    const Entry *e = find(c);
    return e ? e->glyph : kStandIn;
}

} // namespace ledfont
