#include "wiredecoder.h"

#include "cp1252.h"
#include "encoder.h"
#include "frame.h"

namespace
{

QString bcdText(quint8 b)
{
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
}

} // namespace

QString decodeWireData(QByteArrayView data)
{
    if (data.size() == 4 && data[0] == 'R') {
        return QStringLiteral("R hora %1:%2:%3")
            .arg(bcdText(quint8(data[1])), bcdText(quint8(data[2])), bcdText(quint8(data[3])));
    }
    if (data.size() == 5 && data[0] == 'D') {
        return QStringLiteral("D data %1/%2/%3 dia da semana %4")
            .arg(bcdText(quint8(data[1])), bcdText(quint8(data[2])), bcdText(quint8(data[3])))
            .arg(quint8(data[4]));
    }
    QString out;
    for (const char c : data) {
        const auto b = quint8(c);
        if (b == frame::kExpandedMarker) {
            out += QLatin1String("[E]");
        } else if (const QString name = tagcodes::nameOf(b); !name.isEmpty()) {
            out += QLatin1Char('<') + name + QLatin1Char('>');
        } else if (const char16_t letter = tagcodes::accentedLetterOf(b)) {
            out += QChar(letter);
        } else if (b < 0x20 || b == 0x7F) {
            out += QLatin1String("\\x") +
                   QString::number(b, 16).rightJustified(2, QLatin1Char('0')).toUpper();
        } else {
            out += cp1252::toUnicode(b);
        }
    }
    return out;
}
