#include "frame.h"

#include "encoder.h"

namespace frame
{

QByteArray encodeDataField(QByteArrayView field, int panelType)
{
    return field.size() > 1 ? encodeMessage(field, panelType) : field.toByteArray();
}

quint8 checkByte(qint16 address, QByteArrayView data)
{
    const auto a = quint16(address);
    quint8 x = quint8(a & 0xFF) ^ quint8(a >> 8);
    for (const char b : data)
        x ^= quint8(b);
    return x;
}

QByteArray build(qint16 address, QByteArrayView data)
{
    data = data.first(qMin(data.size(), kMaxData));
    const auto length = quint16(data.size() + 4);
    const auto a = quint16(address);
    QByteArray f;
    f.reserve(kHeaderSize + data.size() + 1);
    f.append(char(0x81)).append(char(0x7E));
    f.append(char(length & 0xFF)).append(char(length >> 8));
    f.append(char(a & 0xFF)).append(char(a >> 8));
    f.append(char(0xFF)).append(char(0xFF));
    f.append(data);
    f.append(char(checkByte(address, data)));
    return f;
}

QString hexDump(QByteArrayView bytes)
{
    QString s;
    s.reserve(bytes.size() * 4);
    for (const char b : bytes) {
        s += QString::number(quint8(b), 16).toUpper();
        s += QLatin1String("H ");
    }
    return s;
}

QString sizeText(qsizetype encodedBytes)
{
    // The count is written with a leading blank where a sign would stand.
    return QStringLiteral("  =>  %1 Caracteres.").arg(encodedBytes);
}

QString hexLine(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

} // namespace frame
