#pragma once

#include <QString>
#include <QVector>

// Colour values are kept as the panel software has always kept them:
// 0x00BBGGRR, red in the low byte.
using ColourRef = quint32;

constexpr ColourRef rgbColour(int r, int g, int b)
{
    return ColourRef(r & 0xFF) | ColourRef(g & 0xFF) << 8 | ColourRef(b & 0xFF) << 16;
}
constexpr int colourRed(ColourRef c)
{
    return int(c & 0xFF);
}
constexpr int colourGreen(ColourRef c)
{
    return int(c >> 8 & 0xFF);
}
constexpr int colourBlue(ColourRef c)
{
    return int(c >> 16 & 0xFF);
}

struct CharFormat {
    ColourRef colour = 0;
    bool bold = false;
    bool underline = false;
    double pointSize = 12.0;

    friend bool operator==(const CharFormat &a, const CharFormat &b)
    {
        return a.colour == b.colour && a.bold == b.bold && a.underline == b.underline &&
               a.pointSize == b.pointSize;
    }
    friend bool operator!=(const CharFormat &a, const CharFormat &b) { return !(a == b); }
};

struct RichChar {
    QChar ch;
    CharFormat format;

    friend bool operator==(const RichChar &a, const RichChar &b)
    {
        return a.ch == b.ch && a.format == b.format;
    }
};

enum class Alignment { Left, Right, Center, Justify };

// A message as the editor holds it: characters with their own formatting.
// Paragraph breaks are the character '\n'; the alignment is the message's,
// since a panel message is one line.
class RichText
{
public:
    RichText() = default;
    static RichText fromPlain(const QString &text, const CharFormat &format = {});

    qsizetype size() const { return m_chars.size(); }
    bool isEmpty() const { return m_chars.isEmpty(); }
    const RichChar &at(qsizetype i) const { return m_chars.at(i); }
    // Outside the text there is nothing: no character, no underline.
    QChar charAt(qsizetype i) const;
    bool isUnderlined(qsizetype i) const;

    void append(QChar ch, const CharFormat &format) { m_chars.append({ch, format}); }
    void append(const QString &text, const CharFormat &format);
    void append(const RichChar &c) { m_chars.append(c); }
    void reserve(qsizetype n) { m_chars.reserve(n); }
    void clear() { m_chars.clear(); }
    void chop(qsizetype n) { m_chars.resize(qMax<qsizetype>(0, m_chars.size() - n)); }
    RichText mid(qsizetype pos, qsizetype len = -1) const;

    QString plainText() const;
    const QVector<RichChar> &chars() const { return m_chars; }
    QVector<RichChar> &chars() { return m_chars; }

    Alignment alignment() const { return m_alignment; }
    void setAlignment(Alignment a) { m_alignment = a; }

    friend bool operator==(const RichText &a, const RichText &b)
    {
        return a.m_alignment == b.m_alignment && a.m_chars == b.m_chars;
    }
    friend bool operator!=(const RichText &a, const RichText &b) { return !(a == b); }

private:
    QVector<RichChar> m_chars;
    Alignment m_alignment = Alignment::Left;
};
