#pragma once

#include "tagprotection.h"

#include <QObject>

class QTextEdit;

// The one place that keeps a message's tags whole, whatever path a change
// or a cursor move takes (keys with or without modifiers, input methods,
// drops, pastes, undo and redo, commands):
//  - whenever the cursor moves, an end that rests inside a tag goes to the
//    tag's edge in the direction it travelled, and a selection's anchor
//    inside a tag takes the whole tag; while a mouse button is held the
//    cursor follows the mouse, and the release settles it;
//  - after every change to the document, an underlined stretch around it
//    that is not a whole tag's name loses its underline, in the same undo
//    step, so nothing can pass for a tag.
// The rules themselves are tagprotection's.
class TagGuard : public QObject
{
    Q_OBJECT
public:
    TagGuard(QTextEdit &edit, const TagText &text);

    bool mouseHeld() const { return m_mouseHeld; }
    void setMouseHeld(bool held) { m_mouseHeld = held; }

private:
    void settleCursor();
    void noteChange(int from, int removed, int added);
    void dropStrayUnderline();

    QTextEdit &m_edit;
    const TagText &m_text;
    qsizetype m_lastPosition = 0;
    bool m_settling = false;
    bool m_mouseHeld = false;
    // The stretch changed since the document last settled, [from, to).
    qsizetype m_changedFrom = -1;
    qsizetype m_changedTo = -1;
};
