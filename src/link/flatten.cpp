#include "flatten.h"

#include "cp1252.h"
#include "encoder.h"
#include "frame.h"
#include "vocabulary.h"

namespace
{

bool isDropped(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('\t');
}

} // namespace

QByteArray flattenMessage(const RichText &text)
{
    QByteArray out;
    out.reserve(text.size() + 16);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const RichChar &rc = text.at(i);
        const QChar c = rc.ch;
        if (isDropped(c)) continue;
        bool marked = false;
        if (rc.format.bold) {
            // The brackets of an inserted tag sit beside its underlined name.
            if (c == QLatin1Char('<'))
                marked = !text.isUnderlined(i + 1);
            else if (c == QLatin1Char('>'))
                marked = !text.isUnderlined(i - 1);
            else
                marked = !rc.format.underline;
        }
        if (marked) out.append(char(frame::kExpandedMarker));
        // A character beyond the basic plane is one character on the panel.
        if (c.isHighSurrogate() && i + 1 < n && text.charAt(i + 1).isLowSurrogate()) {
            out.append('?');
            ++i;
            continue;
        }
        const int b = cp1252::fromUnicode(c);
        out.append(char(b < 0 ? '?' : b));
    }
    return out;
}

QByteArray loadCommandField(const RichText &text)
{
    return 'L' + flattenMessage(text);
}

RichText plainMessage(QString text)
{
    if (text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    else if (text.endsWith(u'\n'))
        text.chop(1);
    return RichText::fromPlain(text);
}

RichText typedMessage(const QString &text)
{
    RichText r = RichText::fromPlain(text);
    MessageEncoder encoder;
    constexpr int kLast = vocabulary::kTagLength - 1; // the ">"
    for (qsizetype i = 0; i + kLast < text.size(); ++i) {
        if (text[i] != u'<' || text[i + kLast] != u'>') continue;
        if (!encoder.tagCode(cp1252::encode(QStringView(text).mid(i + 1, vocabulary::kNameLength))))
            continue;
        for (qsizetype j = i + 1; j < i + kLast; ++j)
            r.chars()[j].format.underline = true;
        i += kLast;
    }
    return r;
}
