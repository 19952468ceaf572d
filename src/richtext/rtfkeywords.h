#pragma once

// The control words the message reader acts on. Kept apart from the reader
// so that the vocabulary (what RichEdit and other writers emit) can grow
// without touching the parsing.

#include <optional>
#include <string_view>

namespace rtf
{

enum class Kw {
    Par,
    Line,
    Tab,
    Plain,
    Pard,
    Bold,
    Underline,
    UnderlineNone,
    FontSize,
    Colour,
    Red,
    Green,
    Blue,
    Unicode,
    UnicodeSkip,
    Bin,
    AlignLeft,
    AlignRight,
    AlignCenter,
    AlignJustify,
    FontTable,
    ColourTable,
    SkipDest,
    Emdash,
    Endash,
    Bullet,
    LQuote,
    RQuote,
    LDblQuote,
    RDblQuote,
    Cell,
    Row,
};

// The meaning of a control word, or nothing for words the reader skips.
std::optional<Kw> keyword(std::string_view word);

} // namespace rtf
