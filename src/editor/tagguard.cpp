#include "tagguard.h"

#include "vocabulary.h"

#include <QTextDocument>
#include <QTextEdit>

TagGuard::TagGuard(QTextEdit &edit, const TagText &text)
    : QObject(&edit), m_edit(edit), m_text(text)
{
    connect(edit.document(), &QTextDocument::contentsChange, this, &TagGuard::noteChange);
    connect(edit.document(), &QTextDocument::contentsChanged, this, &TagGuard::dropStrayUnderline);
    connect(&edit, &QTextEdit::cursorPositionChanged, this, &TagGuard::settleCursor);
    connect(&edit, &QTextEdit::selectionChanged, this, &TagGuard::settleCursor);
}

void TagGuard::settleCursor()
{
    if (m_settling) return;
    QTextCursor c = m_edit.textCursor();
    const qsizetype pos = c.position();
    if (m_mouseHeld) {
        m_lastPosition = pos;
        return;
    }
    const qsizetype anchor = c.anchor();
    const qsizetype to = tagprotection::settle(m_text, pos, pos >= m_lastPosition);
    // The anchor, if a selection has one inside a tag, takes the whole tag.
    const qsizetype from = anchor == pos ? to : tagprotection::settle(m_text, anchor, anchor > pos);
    m_lastPosition = to;
    if (to == pos && from == anchor) return;
    m_settling = true;
    c.setPosition(int(from));
    c.setPosition(int(to), QTextCursor::KeepAnchor);
    m_edit.setTextCursor(c);
    m_settling = false;
}

void TagGuard::noteChange(int from, int removed, int added)
{
    Q_UNUSED(removed);
    const qsizetype to = from + added;
    m_changedFrom = m_changedFrom < 0 ? from : qMin<qsizetype>(m_changedFrom, from);
    m_changedTo = qMax<qsizetype>(m_changedTo, to);
}

void TagGuard::dropStrayUnderline()
{
    if (m_changedFrom < 0 || m_settling) return;
    // Neighbouring tags are looked at too: an edit beside a name can break it.
    const qsizetype from = m_changedFrom - vocabulary::kTagLength,
                    to = m_changedTo + vocabulary::kTagLength;
    m_changedFrom = m_changedTo = -1;
    const QVector<TextRange> stray = tagprotection::strayUnderline(m_text, from, to);
    if (stray.isEmpty()) return;
    m_settling = true;
    QTextCursor c(m_edit.document());
    // Part of the change that made it, so one undo takes both back.
    c.joinPreviousEditBlock();
    QTextCharFormat plain;
    plain.setFontUnderline(false);
    for (const TextRange &r : stray) {
        c.setPosition(int(r.start));
        c.setPosition(int(r.start + r.length), QTextCursor::KeepAnchor);
        c.mergeCharFormat(plain);
    }
    c.endEditBlock();
    m_settling = false;
    m_changedFrom = m_changedTo = -1;
}
