#pragma once

// Messages as the editor makes them: text in its colour, tags with their
// bracket in the text's colour and a grey underlined name.
#include "richtext.h"

constexpr ColourRef kRed = rgbColour(255, 0, 0);
constexpr ColourRef kGreen = rgbColour(0, 255, 0);

class Message
{
public:
    Message &text(const QString &s, ColourRef colour = kRed, bool bold = false)
    {
        CharFormat f;
        f.colour = colour;
        f.bold = bold;
        m_text.append(s, f);
        return *this;
    }
    Message &tag(const QString &tag, ColourRef colour = kRed, bool bold = false)
    {
        text(tag.left(1), colour, bold);
        CharFormat name;
        name.colour = rgbColour(192, 192, 192);
        name.underline = true;
        name.bold = bold;
        m_text.append(tag.mid(1, tag.size() - 2), name);
        return text(tag.right(1), colour, bold);
    }
    operator RichText() const { return m_text; }

private:
    RichText m_text;
};
