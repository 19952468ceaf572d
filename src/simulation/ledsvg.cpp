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

namespace
{

// One animation over the strip: state i is shown by moving the strip up by
// i panel heights. keyTimes are fractions of `dur`.
QByteArray stripAnimation(const QVector<LedState> &states, int first, int last, double from,
                          double dur, double height, const QByteArray &timing)
{
    QByteArray values, keyTimes;
    for (int i = first; i < last; ++i) {
        if (i > first) {
            values += ';';
            keyTimes += ';';
        }
        values += "0 " + num(-height * i);
        keyTimes += i == first ? QByteArray("0")
                               : QByteArray::number((states[i].t - from) / dur, 'f', 6);
    }
    return "<animateTransform attributeName=\"transform\" type=\"translate\" "
           "calcMode=\"discrete\" values=\"" +
           values + "\" keyTimes=\"" + keyTimes + "\" dur=\"" + num(dur) + "s\"" + timing +
           "/>\n";
}

} // namespace

QByteArray ledAnimationSvg(const QVector<LedState> &states, double duration, int cells,
                           const std::optional<LedLoop> &loop)
{
    const LedLayout layout(cells, QSizeF(cells * 6 * kPitch, 9 * kPitch));
    const double width = layout.size().width(), height = layout.size().height();
    const double span = std::max(duration, states.isEmpty() ? 1.0 : states.last().t + 0.001);
    // Times are whole milliseconds: half of one keeps a state that starts
    // the next round out of this one.
    const double end = loop ? loop->start + loop->period - 0.0005 : span;
    int count = 0;
    while (count < states.size() && states[count].t < end)
        ++count;

    QByteArray out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" +
           num(height) + "\" viewBox=\"0 0 " + num(width) + " " + num(height) + "\"";
    if (loop) {
        out += " data-periodo=\"" + QByteArray::number(loop->period, 'f', 3) + "\"";
        if (loop->start > 0)
            out += " data-inicio=\"" + QByteArray::number(loop->start, 'f', 3) + "\"";
    }
    out += ">\n<defs>\n";
    // A character's dots are one path of round dots (zero-length strokes
    // with round caps), drawn in the colour of the <use> that places it:
    // one drawing call a cell instead of one a dot.
    const QByteArray stroke = num(layout.radius() * 2);
    QSet<QByteArray> defined;
    for (int i = 0; i < count; ++i) {
        for (const auto &rc : states[i].cells) {
            if (!rc || defined.contains(glyphId(*rc))) continue;
            defined.insert(glyphId(*rc));
            out += "<path id=\"" + glyphId(*rc) + "\" stroke-width=\"" + stroke +
                   "\" stroke-linecap=\"round\" d=\"";
            for (const auto &[column, row] : glyphDots(rc->ch, rc->format.bold))
                out += "M" + num(column * layout.pitch()) + " " + num(row * layout.pitch()) + "h0";
            out += "\"/>\n";
        }
    }
    // The unlit dots: one cell's worth as a tile, repeated across the panel.
    const QPointF firstDot = layout.centre(0, 0, 0);
    const double band = cells > 1 ? layout.origin(1).x() - layout.origin(0).x() : width;
    const double half = layout.pitch() / 2;
    out += "<pattern id=\"unlit\" patternUnits=\"userSpaceOnUse\" x=\"" +
           num(firstDot.x() - half) + "\" y=\"" + num(firstDot.y() - half) + "\" width=\"" +
           num(band) + "\" height=\"" + num(layout.pitch()) + "\">";
    for (int column = 0; column < ledfont::kColumns; ++column)
        out += "<circle cx=\"" + num(half + column * layout.pitch()) + "\" cy=\"" + num(half) +
               "\" r=\"" + num(layout.radius()) + "\" fill=\"" + kUnlit + "\"/>";
    out += "</pattern>\n</defs>\n<rect width=\"100%\" height=\"100%\" fill=\"#000\"/>\n";
    out += "<rect x=\"" + num(firstDot.x() - half) + "\" y=\"" + num(firstDot.y() - half) +
           "\" width=\"" + num(band * cells) + "\" height=\"" +
           num(layout.pitch() * ledfont::kRows) + "\" fill=\"url(#unlit)\"/>\n";

    // The states one under the other in a strip seen through the panel's
    // window, moved by one discrete animation: the browser's work follows
    // how often the picture changes, not how many states there are.
    out += "<svg width=\"" + num(width) + "\" height=\"" + num(height) + "\"><g>\n";
    const double loopStart = loop ? loop->start : 0;
    int firstLooped = 0;
    while (firstLooped < count && states[firstLooped].t < loopStart)
        ++firstLooped;
    if (firstLooped > 0) // before the repeating part: shown once
        out += stripAnimation(states, 0, firstLooped, 0, loopStart, height, QByteArray());
    if (firstLooped < count) {
        const double round = loop ? loop->period : span;
        out += stripAnimation(states, firstLooped, count, loopStart, round, height,
                              (loopStart > 0 ? " begin=\"" + num(loopStart) + "s\"" : QByteArray()) +
                                  " repeatCount=\"indefinite\"");
    }
    for (int i = 0; i < count; ++i) {
        const LedState &s = states[i];
        out += "<g data-t=\"" + QByteArray::number(s.t, 'f', 3) + "\" transform=\"translate(0 " +
               num(height * i) + ")\">";
        for (int cell = 0; cell < s.cells.size(); ++cell) {
            const auto &rc = s.cells[cell];
            if (!rc || glyphDots(rc->ch, rc->format.bold).isEmpty()) continue;
            const QPointF o = layout.origin(cell);
            out += "<use href=\"#" + glyphId(*rc) + "\" x=\"" + num(o.x()) + "\" y=\"" +
                   num(o.y()) + "\" stroke=\"" + svgColour(ledColour(rc->format.colour)) + "\"/>";
        }
        out += "</g>\n";
    }
    out += "</g></svg>\n</svg>\n";
    return out;
}
