#include "tagprotection.h"

namespace tagprotection
{
namespace
{

constexpr qsizetype kTag = 13;

bool isAt(const TagText &t, qsizetype pos, char c)
{
    return pos >= 0 && pos < t.length() && t.charAt(pos) == QLatin1Char(c);
}

// A ">" at pos that closes a tag: its name stands underlined before it, and
// the whole tag fits in the text.
bool closesTag(const TagText &t, qsizetype pos)
{
    return isAt(t, pos, '>') && t.isUnderlined(pos - 1) && pos - (kTag - 1) >= 0;
}

// A "<" at pos that opens a tag whose thirteen characters fit in the text.
bool opensTag(const TagText &t, qsizetype pos)
{
    return isAt(t, pos, '<') && t.isUnderlined(pos + 1) && pos + kTag <= t.length();
}

} // namespace

std::optional<TextRange> backspace(const TagText &t, qsizetype caret)
{
    if (caret > 0 && closesTag(t, caret - 1)) return TextRange{caret - kTag, kTag};
    return std::nullopt;
}

std::optional<TextRange> deleteForward(const TagText &t, qsizetype caret)
{
    if (opensTag(t, caret)) return TextRange{caret, kTag};
    return std::nullopt;
}

std::optional<qsizetype> left(const TagText &t, qsizetype caret)
{
    if (caret > 0 && closesTag(t, caret - 1)) return caret - kTag;
    return std::nullopt;
}

std::optional<qsizetype> right(const TagText &t, qsizetype pos)
{
    if (opensTag(t, pos)) return pos + kTag;
    return std::nullopt;
}

qsizetype caret(const TagText &t, qsizetype pos)
{
    const qsizetype n = t.length();
    pos = qBound<qsizetype>(0, pos, n);
    if (t.isUnderlined(pos)) {
        // Forward until the character before is no part of a name: right
        // after the tag's ">", or at the end of the text.
        do {
            ++pos;
        } while (pos < n && t.isUnderlined(pos - 1));
        return pos;
    }
    if (isAt(t, pos, '>') && t.isUnderlined(pos - 1)) return pos + 1;
    return pos;
}

TextRange selection(const TagText &t, TextRange sel)
{
    const qsizetype n = t.length();
    qsizetype a = qBound<qsizetype>(0, sel.start, n);
    qsizetype len = qBound<qsizetype>(0, sel.length, n - a);
    // The start leaves a tag's name forward, past its ">".
    if (t.isUnderlined(a)) {
        const qsizetype after = caret(t, a);
        len -= after - a;
        a = after;
        if (len < 0) len = 0;
    } else if (isAt(t, a, '>') && t.isUnderlined(a - 1)) {
        ++a;
        len = qMax<qsizetype>(0, len - 1);
    }
    // The end leaves a tag's name backward, onto its "<".
    qsizetype e = a + len;
    if (t.isUnderlined(e)) {
        while (e > a && t.isUnderlined(e))
            --e;
        len = e - a;
    } else if (isAt(t, e, '>') && t.isUnderlined(e - 1)) {
        len = qMax<qsizetype>(0, len - (kTag - 1));
    }
    return {a, len};
}

} // namespace tagprotection
