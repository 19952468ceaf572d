#include "ledpainter.h"

#include "ledfont.h"

#include <QPainter>
#include <QRadialGradient>

#include <cmath>

namespace
{
const QColor kUnlit(38, 38, 38);

QColor toQColor(ColourRef c)
{
    return QColor(colourRed(c), colourGreen(c), colourBlue(c));
}
} // namespace

const QImage &LedPainter::background(const LedLayout &layout)
{
    const QSize size = layout.size().toSize();
    if (m_background.size() == size && m_backgroundCells == layout.cells()) return m_background;
    m_background = QImage(size, QImage::Format_ARGB32_Premultiplied);
    m_background.fill(Qt::black);
    m_backgroundCells = layout.cells();
    QPainter p(&m_background);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kUnlit);
    const double r = layout.radius();
    for (int cell = 0; cell < layout.cells(); ++cell) {
        for (int row = 0; row < ledfont::kRows; ++row) {
            for (int column = 0; column < ledfont::kColumns; ++column)
                p.drawEllipse(layout.centre(cell, column, row), r, r);
        }
    }
    return m_background;
}

const QImage &LedPainter::litDot(ColourRef colour, double pitch)
{
    if (pitch != m_dotPitch) {
        m_dots.clear();
        m_dotPitch = pitch;
    }
    auto it = m_dots.find(colour);
    if (it != m_dots.end()) return *it;
    // The dot and its glow, which reaches half a pitch beyond it.
    const int side = int(std::ceil(pitch * 1.8)) | 1;
    QImage dot(side, side, QImage::Format_ARGB32_Premultiplied);
    dot.fill(Qt::transparent);
    QPainter p(&dot);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QPointF centre(side / 2.0, side / 2.0);
    const QColor c = toQColor(colour);
    QRadialGradient glow(centre, side / 2.0);
    QColor halo = c;
    halo.setAlpha(110);
    glow.setColorAt(0, halo);
    halo.setAlpha(0);
    glow.setColorAt(1, halo);
    p.setBrush(glow);
    p.drawEllipse(centre, side / 2.0, side / 2.0);
    p.setBrush(c);
    p.drawEllipse(centre, pitch * 0.4, pitch * 0.4);
    p.end();
    return *m_dots.insert(colour, dot);
}

void LedPainter::paint(QPainter &p, const LedLayout &layout, const PanelCells &cells)
{
    p.drawImage(0, 0, background(layout));
    for (const LitDot &d : litDots(cells)) {
        const QImage &dot = litDot(d.colour, layout.pitch());
        const QPointF c = layout.centre(d.cell, d.column, d.row);
        p.drawImage(QPointF(c.x() - dot.width() / 2.0, c.y() - dot.height() / 2.0), dot);
    }
}

QImage renderLeds(const PanelCells &cells, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    LedPainter painter;
    painter.paint(p, LedLayout(int(cells.size()), QSizeF(size)), cells);
    p.end();
    return image;
}
