#include "richtextdocument.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cmath>

namespace richtextdocument
{
namespace
{

CharFormat toModel(const QTextCharFormat &f, double defaultSize)
{
    CharFormat c;
    if (f.foreground().style() != Qt::NoBrush) {
        const QColor col = f.foreground().color();
        c.colour = rgbColour(col.red(), col.green(), col.blue());
    }
    c.bold = f.fontWeight() >= QFont::DemiBold;
    c.underline = f.fontUnderline();
    const double size = f.fontPointSize() > 0 ? f.fontPointSize() : defaultSize;
    c.pointSize = std::round(size * 2) / 2;
    return c;
}

QTextCharFormat toQt(const CharFormat &c)
{
    QTextCharFormat f;
    f.setForeground(QColor(colourRed(c.colour), colourGreen(c.colour), colourBlue(c.colour)));
    f.setFontWeight(c.bold ? QFont::Bold : QFont::Normal);
    f.setFontUnderline(c.underline);
    f.setFontPointSize(c.pointSize);
    return f;
}

Qt::Alignment toQt(Alignment a)
{
    switch (a) {
    case Alignment::Right:
        return Qt::AlignRight;
    case Alignment::Center:
        return Qt::AlignHCenter;
    case Alignment::Justify:
        return Qt::AlignJustify;
    case Alignment::Left:
        break;
    }
    return Qt::AlignLeft;
}

Alignment toModel(Qt::Alignment a)
{
    if (a & Qt::AlignRight) return Alignment::Right;
    if (a & Qt::AlignHCenter) return Alignment::Center;
    if (a & Qt::AlignJustify) return Alignment::Justify;
    return Alignment::Left;
}

} // namespace

RichText read(const QTextDocument &doc, qsizetype from, qsizetype to)
{
    const qsizetype end = to < 0 ? doc.characterCount() - 1 : to;
    const double defaultSize = doc.defaultFont().pointSizeF();
    RichText out;
    out.reserve(end - from);
    QTextBlock block = doc.findBlock(int(from));
    out.setAlignment(toModel(block.blockFormat().alignment()));
    for (; block.isValid() && block.position() < end; block = block.next()) {
        if (block.position() > from) {
            CharFormat sep = toModel(block.charFormat(), defaultSize);
            sep.underline = false;
            out.append(QLatin1Char('\n'), sep);
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            const qsizetype fs = frag.position(), fe = fs + frag.length();
            if (fe <= from || fs >= end) continue;
            const CharFormat f = toModel(frag.charFormat(), defaultSize);
            const QString text = frag.text();
            for (qsizetype i = qMax(fs, from); i < qMin(fe, end); ++i) {
                QChar c = text[i - fs];
                if (c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
                    c = QLatin1Char('\n');
                else if (c == QChar::ObjectReplacementCharacter)
                    continue;
                out.append(c, f);
            }
        }
    }
    return out;
}

void insert(QTextCursor &cursor, const RichText &text)
{
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    const QVector<RichChar> &chars = text.chars();
    qsizetype i = 0;
    while (i < chars.size()) {
        if (chars[i].ch == QLatin1Char('\n')) {
            cursor.insertBlock();
            ++i;
            continue;
        }
        // One insertion per run of characters that share a format.
        qsizetype j = i + 1;
        while (j < chars.size() && chars[j].format == chars[i].format &&
               chars[j].ch != QLatin1Char('\n'))
            ++j;
        QString run(j - i, Qt::Uninitialized);
        for (qsizetype k = i; k < j; ++k)
            run[k - i] = chars[k].ch;
        cursor.insertText(run, toQt(chars[i].format));
        i = j;
    }
    cursor.endEditBlock();
}

void replaceAll(QTextDocument &doc, const RichText &text)
{
    doc.clear();
    QTextCursor cursor(&doc);
    insert(cursor, text);
    QTextBlockFormat bf;
    bf.setAlignment(toQt(text.alignment()));
    cursor.select(QTextCursor::Document);
    cursor.mergeBlockFormat(bf);
}

} // namespace richtextdocument
