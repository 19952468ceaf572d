#include "tagprotection.h"

#include "formatrules.h"
#include "tags.h"
#include "vocabulary.h"

QVector<TextRange> TagText::underlinedRuns(qsizetype from, qsizetype to) const
{
    const qsizetype n = length();
    from = qBound<qsizetype>(0, from, n);
    to = qBound<qsizetype>(from, to, n);
    while (from > 0 && isUnderlined(from - 1))
        --from;
    while (to < n && isUnderlined(to))
        ++to;
    QVector<TextRange> runs;
    for (qsizetype i = from; i < to;) {
        if (!isUnderlined(i)) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < to && isUnderlined(i))
            ++i;
        runs.append({start, i - start});
    }
    return runs;
}

namespace tagprotection
{
namespace
{

constexpr qsizetype kTag = vocabulary::kTagLength;

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

// The thirteen characters from s are a whole tag: plain "<", eleven
// underlined name characters, plain ">".
bool isWholeTag(const TagText &t, qsizetype s)
{
    if (!isAt(t, s, '<') || t.isUnderlined(s) || !isAt(t, s + kTag - 1, '>') ||
        t.isUnderlined(s + kTag - 1))
        return false;
    for (qsizetype i = 1; i < kTag - 1; ++i) {
        if (!t.isUnderlined(s + i)) return false;
    }
    return true;
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

std::optional<TextRange> tagAround(const TagText &t, qsizetype pos)
{
    // Only a name character or a ">" after one can be inside a tag.
    if (!t.isUnderlined(pos) && !(isAt(t, pos, '>') && t.isUnderlined(pos - 1)))
        return std::nullopt;
    qsizetype s = pos - 1;
    while (s > pos - kTag && t.isUnderlined(s))
        --s;
    if (s >= 0 && isWholeTag(t, s)) return TextRange{s, kTag};
    return std::nullopt;
}

qsizetype settle(const TagText &t, qsizetype pos, bool forward)
{
    pos = qBound<qsizetype>(0, pos, t.length());
    if (const auto tag = tagAround(t, pos)) return forward ? tag->start + kTag : tag->start;
    return pos;
}

qsizetype insertionPoint(const TagText &t, qsizetype pos)
{
    return settle(t, pos, true);
}

TextRange wholeTags(const TagText &t, TextRange range)
{
    const qsizetype n = t.length();
    qsizetype a = qBound<qsizetype>(0, range.start, n);
    qsizetype e = qBound<qsizetype>(a, range.start + range.length, n);
    if (const auto tag = tagAround(t, a)) a = tag->start;
    if (const auto tag = tagAround(t, e)) e = tag->start + kTag;
    return {a, e - a};
}

QVector<TextRange> strayUnderline(const TagText &t, qsizetype from, qsizetype to)
{
    QVector<TextRange> stray;
    for (const TextRange &run : t.underlinedRuns(from, to)) {
        if (run.length != kTag - 2 || !isWholeTag(t, run.start - 1)) stray.append(run);
    }
    return stray;
}

void normaliseForeign(RichText &text)
{
    static const QStringList vocabulary = tags::all();
    const RichTextTagText view(text);
    for (const TextRange &r : strayUnderline(view, 0, text.size())) {
        for (qsizetype i = r.start; i < r.start + r.length; ++i)
            text.chars()[i].format.underline = false;
    }
    // What is left underlined is whole tags; unknown names lose it too.
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!text.isUnderlined(i)) continue;
        const qsizetype s = i - 1;
        const bool known = vocabulary.contains(text.mid(s, kTag).plainText());
        for (qsizetype k = i; k < s + kTag - 1; ++k) {
            RichChar &c = text.chars()[k];
            c.format.underline = known;
            if (known) c.format.colour = colours::kTagName;
        }
        i = s + kTag - 1;
    }
}

} // namespace tagprotection
