#include "ledlayout.h"

#include "ledfont.h"

#include <algorithm>

namespace
{
// Five dots and a dot's gap across a cell; seven dots and a margin of one
// down the view.
constexpr int kPitchesAcross = ledfont::kColumns + 1;
constexpr int kPitchesDown = ledfont::kRows + 2;
} // namespace

LedLayout::LedLayout(int cells, QSizeF view)
    : m_cells(std::max(1, cells)), m_size(view),
      m_pitch(std::min(view.width() / (m_cells * kPitchesAcross), view.height() / kPitchesDown))
{
}

QRectF LedLayout::band(int cell) const
{
    const double w = m_size.width() / m_cells;
    return {cell * w, 0, w, m_size.height()};
}

QPointF LedLayout::origin(int cell) const
{
    const QRectF b = band(cell);
    return {b.left() + (b.width() - ledfont::kColumns * m_pitch) / 2 + m_pitch / 2,
            (m_size.height() - ledfont::kRows * m_pitch) / 2 + m_pitch / 2};
}

QPointF LedLayout::centre(int cell, int column, int row) const
{
    return origin(cell) + QPointF(column * m_pitch, row * m_pitch);
}

QVector<std::pair<int, int>> glyphDots(QChar c, bool bold)
{
    const ledfont::Glyph &g = ledfont::glyph(c);
    QVector<std::pair<int, int>> out;
    for (int row = 0; row < ledfont::kRows; ++row) {
        for (int column = 0; column < ledfont::kColumns; ++column) {
            const bool on = g.lit(column, row) || (bold && column > 0 && g.lit(column - 1, row));
            if (on) out.append({column, row});
        }
    }
    return out;
}

QVector<LitDot> litDots(const PanelCells &cells)
{
    QVector<LitDot> out;
    for (int cell = 0; cell < cells.size(); ++cell) {
        const auto &rc = cells[cell];
        if (!rc) continue;
        for (const auto &[column, row] : glyphDots(rc->ch, rc->format.bold))
            out.append({cell, column, row, ledColour(rc->format.colour)});
    }
    return out;
}

ColourRef ledColour(ColourRef colour)
{
    constexpr int kDarkest = 48; // below this in every channel, black on black
    if (colourRed(colour) < kDarkest && colourGreen(colour) < kDarkest &&
        colourBlue(colour) < kDarkest)
        return rgbColour(255, 0, 0);
    return colour;
}
