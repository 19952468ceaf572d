#pragma once

// Typing, placing the caret and the selection of an editor, finding where a
// position is on screen and whether a tag is whole, as the editor tests
// need them.
#include "editcommands.h"
#include "messageedit.h"

#include <QPoint>
#include <QTextCursor>
#include <QtTest>

constexpr ColourRef kGrey = rgbColour(192, 192, 192);
inline const QString kPausa = QStringLiteral("<Pausa______>");

// Real key presses; QTest has keys for ASCII only, so the rest is inserted.
inline void type(MessageEdit &e, const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(&e, c.toLatin1());
        else
            e.insertPlainText(c);
    }
}

// "ab<Pausa______>cd" with a real tag: typed text, then the command.
inline void fill(MessageEdit &e, const QString &before, const QString &tag, const QString &after)
{
    type(e, before);
    editcommands::insertTag(e, tag);
    type(e, after);
}

// A whole tag at `at` (`tag`, when given): "<", a grey underlined name of
// eleven, ">".
inline bool isTag(const RichText &t, int at, const QString &tag = {})
{
    if (!tag.isEmpty() && t.plainText().mid(at, 13) != tag) return false;
    if (t.charAt(at) != '<' || t.at(at).format.underline) return false;
    for (int i = 1; i <= 11; ++i)
        if (!t.at(at + i).format.underline || t.at(at + i).format.colour != kGrey) return false;
    return t.charAt(at + 12) == '>' && !t.at(at + 12).format.underline;
}

inline void select(MessageEdit &e, int from, int to)
{
    QTextCursor c = e.textCursor();
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    e.setTextCursor(c);
}

inline void setCaret(MessageEdit &e, int pos)
{
    select(e, pos, pos);
}

// A point on the character at pos, a little right of its left edge.
inline QPoint pointAt(MessageEdit &e, int pos)
{
    QTextCursor c(e.document());
    c.setPosition(pos);
    return e.cursorRect(c).center() + QPoint(2, 0);
}
