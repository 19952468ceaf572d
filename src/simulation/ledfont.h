#pragma once

#include <QChar>
#include <QtGlobal>

// The dot-matrix font of the LED preview: 5 x 7 dots a character, from the
// public-domain 5x7 X11 font (scripts/make-ledfont writes the table).
namespace ledfont
{

constexpr int kColumns = 5;
constexpr int kRows = 7;

struct Glyph {
    quint8 rows[kRows]; // leftmost dot in bit 4
    bool lit(int column, int row) const { return rows[row] >> (kColumns - 1 - column) & 1; }
};

// Whether the font draws c itself.
bool hasGlyph(QChar c);
// The glyph of c; for a character the font lacks, a visible stand-in (a
// hollow box), so that nothing the panel gets is shown as a blank.
const Glyph &glyph(QChar c);

} // namespace ledfont
