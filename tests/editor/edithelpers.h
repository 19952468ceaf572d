#pragma once

// Placing the caret and the selection of an editor, and finding where a
// position is on screen, as the editor tests need them.
#include "messageedit.h"

#include <QPoint>
#include <QTextCursor>

inline void setCaret(MessageEdit &e, int pos)
{
    QTextCursor c = e.textCursor();
    c.setPosition(pos);
    e.setTextCursor(c);
}

inline void select(MessageEdit &e, int from, int to)
{
    QTextCursor c = e.textCursor();
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    e.setTextCursor(c);
}

// A point on the character at pos, a little right of its left edge.
inline QPoint pointAt(MessageEdit &e, int pos)
{
    QTextCursor c(e.document());
    c.setPosition(pos);
    return e.cursorRect(c).center() + QPoint(2, 0);
}
