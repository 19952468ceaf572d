#pragma once

#include "ledlayout.h"

#include <QHash>
#include <QImage>

class QPainter;

// Paints a panel view: black, every dot dim, the lit dots in their cell's
// colour with a soft glow. The dim dots are drawn once for a size and the
// lit dot of each colour once, so a state costs only copying its lit dots.
class LedPainter
{
public:
    void paint(QPainter &p, const LedLayout &layout, const PanelCells &cells);

private:
    const QImage &background(const LedLayout &layout);
    const QImage &litDot(ColourRef colour, double pitch);

    QImage m_background;
    int m_backgroundCells = 0;
    QHash<ColourRef, QImage> m_dots;
    double m_dotPitch = 0;
};

// A still picture of a state, for a poster or a ticket.
QImage renderLeds(const PanelCells &cells, QSize size);
