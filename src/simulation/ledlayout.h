#pragma once

#include "richtext.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QVector>

#include <optional>

// The cells of the panel as the engine shows them, empty where nothing
// stands.
using PanelCells = QVector<std::optional<RichChar>>;

// A lit dot: where in which cell, and its colour.
struct LitDot {
    int cell;
    int column;
    int row;
    ColourRef colour;
};

// Where the dots of a W-cell panel go in a view of a given size: cell c
// owns the vertical band c of W equal bands, and its 5 x 7 dots stand in the
// middle of that band, with a dot's room between neighbouring cells.
class LedLayout
{
public:
    LedLayout(int cells, QSizeF view);

    int cells() const { return m_cells; }
    QSizeF size() const { return m_size; }
    double pitch() const { return m_pitch; }
    double radius() const { return m_pitch * 0.4; }
    QRectF band(int cell) const;
    QPointF centre(int cell, int column, int row) const;
    // The first dot of a cell, relative to which its glyph is drawn.
    QPointF origin(int cell) const;

private:
    int m_cells;
    QSizeF m_size;
    double m_pitch;
};

// The colour a character's LEDs are drawn in. The panel shows every
// character, whatever its colour in the editor; one that would not show on
// black (black or nearly) is drawn in the panel's own red.
ColourRef ledColour(ColourRef colour);

// The lit dots of a state, cell by cell. An expanded (bold) character is
// drawn with each dot doubled to its right, as the panel thickens it.
QVector<LitDot> litDots(const PanelCells &cells);
// The dots of one cell's character.
QVector<std::pair<int, int>> glyphDots(QChar c, bool bold);
