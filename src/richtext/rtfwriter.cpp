#include "rtfwriter.h"

#include "cp1252.h"

#include <QHash>

namespace
{

const char *alignmentWord(Alignment a)
{
    switch (a) {
    case Alignment::Right:
        return "\\qr";
    case Alignment::Center:
        return "\\qc";
    case Alignment::Justify:
        return "\\qj";
    case Alignment::Left:
        break;
    }
    return "";
}

void appendNumber(QByteArray &out, const char *word, long n)
{
    out.append(word);
    out.append(QByteArray::number(qlonglong(n)));
}

int halfPoints(double pointSize)
{
    return qBound(1, qRound(pointSize * 2), 3276);
}

void appendFontName(QByteArray &out, const QString &name)
{
    for (const char b : cp1252::encode(name)) {
        if (b == '\\' || b == '{' || b == '}' || b == ';') continue;
        out.append(b);
    }
}

} // namespace

QByteArray writeRtf(const RichText &text, const RtfWriteOptions &options)
{
    // Colour 0 is written as the automatic colour; every other one gets an
    // entry in order of first use.
    QVector<ColourRef> table;
    QHash<ColourRef, int> index;
    for (const RichChar &c : text.chars()) {
        const ColourRef col = c.format.colour & 0xFFFFFF;
        if (col != 0 && !index.contains(col)) {
            table.append(col);
            index.insert(col, int(table.size()));
        }
    }

    QByteArray out;
    out.reserve(256 + text.size() * 4);
    out.append("{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1046{\\fonttbl{\\f0\\fmodern\\fprq1"
               "\\fcharset0 ");
    appendFontName(out, options.fontName);
    out.append(";}}\r\n");
    if (!table.isEmpty()) {
        out.append("{\\colortbl ;");
        for (ColourRef col : table) {
            appendNumber(out, "\\red", colourRed(col));
            appendNumber(out, "\\green", colourGreen(col));
            appendNumber(out, "\\blue", colourBlue(col));
            out.append(';');
        }
        out.append("}\r\n");
    }
    out.append("\\viewkind4\\uc1\\pard");
    out.append(alignmentWord(text.alignment()));

    CharFormat cur;
    cur.pointSize = text.isEmpty() ? 12.0 : text.at(0).format.pointSize;
    int curColour = 0;
    out.append("\\f0");
    appendNumber(out, "\\fs", halfPoints(cur.pointSize));
    bool needSpace = true;

    for (const RichChar &c : text.chars()) {
        const CharFormat &f = c.format;
        const int colour = (f.colour & 0xFFFFFF) == 0 ? 0 : index.value(f.colour & 0xFFFFFF);
        if (colour != curColour) {
            appendNumber(out, "\\cf", colour);
            curColour = colour;
            needSpace = true;
        }
        if (f.bold != cur.bold) {
            out.append(f.bold ? "\\b" : "\\b0");
            needSpace = true;
        }
        if (f.underline != cur.underline) {
            out.append(f.underline ? "\\ul" : "\\ulnone");
            needSpace = true;
        }
        if (halfPoints(f.pointSize) != halfPoints(cur.pointSize)) {
            appendNumber(out, "\\fs", halfPoints(f.pointSize));
            needSpace = true;
        }
        cur = f;

        const char16_t u = c.ch.unicode();
        if (u == '\n') {
            out.append("\\par\r\n");
            needSpace = false;
            continue;
        }
        if (u == '\t') {
            out.append("\\tab");
            needSpace = true;
            continue;
        }
        if (needSpace) {
            out.append(' ');
            needSpace = false;
        }
        if (u == '\\' || u == '{' || u == '}') {
            out.append('\\');
            out.append(char(u));
        } else if (u >= 0x20 && u < 0x80) {
            out.append(char(u));
        } else if (const int b = cp1252::fromUnicode(c.ch); b >= 0) {
            static const char hex[] = "0123456789abcdef";
            out.append("\\'");
            out.append(hex[b >> 4]);
            out.append(hex[b & 15]);
        } else {
            appendNumber(out, "\\u", qint16(u));
            out.append('?');
        }
    }
    out.append("\\par\r\n}\r\n");
    return out;
}
