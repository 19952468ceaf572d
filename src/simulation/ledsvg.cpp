#include "ledsvg.h"

#include "ledfont.h"

#include <QHash>
#include <QSet>

namespace
{

constexpr double kPitch = 6; // SVG units between two dots
const char *kUnlit = "#262626";

QByteArray num(double v)
{
    return QByteArray::number(v, 'f', 2).replace(".00", "");
}

// The id of a character's dots in <defs>.
QByteArray glyphId(const RichChar &rc)
{
    return "g" + QByteArray::number(rc.ch.unicode(), 16) + (rc.format.bold ? "b" : "");
}

} // namespace

QByteArray svgColour(ColourRef c)
{
    return QByteArray("#") +
           QByteArray::number(colourRed(c) << 16 | colourGreen(c) << 8 | colourBlue(c) | 0x1000000,
                              16)
               .mid(1)
               .toUpper();
}

QByteArray ledAnimationSvg(const QVector<LedState> &states, double duration, int cells)
{
    const LedLayout layout(cells, QSizeF(cells * 6 * kPitch, 9 * kPitch));
    const QByteArray r = num(layout.radius());
    QByteArray out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(layout.size().width()) +
           "\" height=\"" + num(layout.size().height()) + "\" viewBox=\"0 0 " +
           num(layout.size().width()) + " " + num(layout.size().height()) + "\">\n";
    out += "<defs>\n<filter id=\"glow\" x=\"-50%\" y=\"-50%\" width=\"200%\" height=\"200%\">"
           "<feGaussianBlur stdDeviation=\"1.6\" result=\"b\"/><feMerge><feMergeNode in=\"b\"/>"
           "<feMergeNode in=\"SourceGraphic\"/></feMerge></filter>\n";
    QSet<QByteArray> defined;
    for (const LedState &s : states) {
        for (const auto &rc : s.cells) {
            if (!rc || defined.contains(glyphId(*rc))) continue;
            defined.insert(glyphId(*rc));
            out += "<g id=\"" + glyphId(*rc) + "\">";
            for (const auto &[column, row] : glyphDots(rc->ch, rc->format.bold))
                out += "<circle cx=\"" + num(column * layout.pitch()) + "\" cy=\"" +
                       num(row * layout.pitch()) + "\" r=\"" + r + "\"/>";
            out += "</g>\n";
        }
    }
    out += "</defs>\n<rect width=\"100%\" height=\"100%\" fill=\"#000\"/>\n";
    out += QByteArray("<g fill=\"") + kUnlit + "\">";
    for (int cell = 0; cell < cells; ++cell) {
        for (int row = 0; row < ledfont::kRows; ++row) {
            for (int column = 0; column < ledfont::kColumns; ++column) {
                const QPointF c = layout.centre(cell, column, row);
                out +=
                    "<circle cx=\"" + num(c.x()) + "\" cy=\"" + num(c.y()) + "\" r=\"" + r + "\"/>";
            }
        }
    }
    out += "</g>\n<g filter=\"url(#glow)\">\n";
    const double loop = std::max(duration, states.isEmpty() ? 1.0 : states.last().t + 0.001);
    const QByteArray dur = num(loop) + "s";
    for (int i = 0; i < states.size(); ++i) {
        const LedState &s = states[i];
        const double end = i + 1 < states.size() ? states[i + 1].t : loop;
        out += "<g data-t=\"" + QByteArray::number(s.t, 'f', 3) + "\" visibility=\"hidden\">";
        out += "<animate attributeName=\"visibility\" values=\"hidden;visible;hidden\" "
               "keyTimes=\"0;" +
               QByteArray::number(s.t / loop, 'f', 6) + ";" +
               QByteArray::number(end / loop, 'f', 6) + "\" dur=\"" + dur +
               "\" calcMode=\"discrete\" repeatCount=\"indefinite\"/>";
        for (int cell = 0; cell < s.cells.size(); ++cell) {
            const auto &rc = s.cells[cell];
            if (!rc || glyphDots(rc->ch, rc->format.bold).isEmpty()) continue;
            const QPointF o = layout.origin(cell);
            out += "<use href=\"#" + glyphId(*rc) + "\" x=\"" + num(o.x()) + "\" y=\"" +
                   num(o.y()) + "\" fill=\"" + svgColour(rc->format.colour) + "\"/>";
        }
        out += "</g>\n";
    }
    out += "</g>\n</svg>\n";
    return out;
}
