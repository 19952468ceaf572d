#pragma once

#include "richtext.h"

#include <QChar>
#include <QVector>
#include <QtGlobal>

#include <optional>

struct TextRange {
    qsizetype start = 0;
    qsizetype length = 0;
    friend bool operator==(const TextRange &a, const TextRange &b)
    {
        return a.start == b.start && a.length == b.length;
    }
};

// The editor's view of its text for the tag rules: characters and whether
// each one is underlined. Underline marks the eleven name characters of an
// inserted tag and nothing else. Positions outside the text hold nothing
// and are not underlined.
class TagText
{
public:
    virtual ~TagText() = default;
    virtual qsizetype length() const = 0;
    virtual QChar charAt(qsizetype pos) const = 0;
    virtual bool isUnderlined(qsizetype pos) const = 0;
    // The underlined stretches that meet [from, to), each taken whole, in
    // order. A view that keeps formats in runs can answer this without
    // looking at every character.
    virtual QVector<TextRange> underlinedRuns(qsizetype from, qsizetype to) const;
};

// The same view over a rich-text snapshot: reading a selection once and
// looking at the copy is far cheaper than asking the document per character.
class RichTextTagText : public TagText
{
public:
    explicit RichTextTagText(const RichText &text) : m_text(text) {}
    qsizetype length() const override { return m_text.size(); }
    QChar charAt(qsizetype pos) const override { return m_text.charAt(pos); }
    bool isUnderlined(qsizetype pos) const override { return m_text.isUnderlined(pos); }

private:
    const RichText &m_text;
};

// The rules that keep inserted tags whole. Each says what to do instead of
// the control's own action, or nothing when the control acts as usual. They
// look only inside the text and never loop past its ends, so a damaged tag
// (pasted from elsewhere, or cut in two) is simply not treated as a tag.
namespace tagprotection
{

// Backspace with the caret at p: the whole tag ending right before p.
std::optional<TextRange> backspace(const TagText &t, qsizetype caret);
// Delete with the caret at p: the whole tag starting at p.
std::optional<TextRange> deleteForward(const TagText &t, qsizetype caret);
// Left from p: the position before the tag's "<".
std::optional<qsizetype> left(const TagText &t, qsizetype caret);
// Right from p (the caret, or the start of the selection): after the ">".
std::optional<qsizetype> right(const TagText &t, qsizetype pos);
// A caret inside a tag's name, or right before its ">", goes after the tag.
qsizetype caret(const TagText &t, qsizetype pos);
// A selection is trimmed to whole tags: it never holds part of one.
TextRange selection(const TagText &t, TextRange sel);

// The rules below hold on every path into the text (keys, input methods,
// drops, pastes, undo, commands), not only on the keys above.

// The whole tag that holds pos strictly inside it (after its "<", up to its
// ">"), if any.
std::optional<TextRange> tagAround(const TagText &t, qsizetype pos);
// Where a caret that was moved to pos comes to rest: never inside a tag, but
// at the tag's edge in the direction it travelled.
qsizetype settle(const TagText &t, qsizetype pos, bool forward);
// Where text inserted at pos goes: after the tag when pos is inside one.
qsizetype insertionPoint(const TagText &t, qsizetype pos);
// A range to delete or replace, grown to cover every tag it touches whole.
TextRange wholeTags(const TagText &t, TextRange range);

// The underlined stretches around [from, to) that are not the eleven name
// characters of a whole tag: they must lose their underline, or a typed
// letter could pass for part of a tag.
QVector<TextRange> strayUnderline(const TagText &t, qsizetype from, qsizetype to);

// Rich text from another program: an underlined run stays underlined (and
// takes the tag grey) only when it is the name of a tag of the vocabulary
// between a plain "<" and ">"; every other underline is dropped.
void normaliseForeign(RichText &text);

} // namespace tagprotection
