#pragma once

#include <QByteArray>
#include <QString>

// Windows-1252, the code page of the panel wire, the settings files and the
// message files. Qt's own converters only know it through ICU, which a
// portable build cannot count on, so the 32 bytes that differ from Latin-1
// are mapped here.
namespace cp1252
{

// The Unicode character of a byte. The five bytes without a character
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) decode to the C1 control of the same value,
// as Windows does, so that every byte survives a round trip.
QChar toUnicode(uchar byte);

// The byte of a character, or -1 when the code page has none.
int fromUnicode(QChar c);

QString decode(QByteArrayView bytes);
// Characters without a byte become "?".
QByteArray encode(QStringView text);

} // namespace cp1252
