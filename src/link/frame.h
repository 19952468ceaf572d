#pragma once

#include <QByteArray>
#include <QString>

namespace frame
{

constexpr quint8 kAck = 6;
constexpr quint8 kNak = 21;
constexpr quint8 kExpandedMarker = 0xFE;
constexpr qsizetype kMaxData = 7500;
constexpr qsizetype kHeaderSize = 8; // 0x81 0x7E, length, address, 0xFF 0xFF

// What the link sends for a data field: the encoding of fields longer than
// one character (a bare command letter goes as it is), before the cut.
QByteArray encodeDataField(QByteArrayView field, int panelType);

// 0x81 0x7E, length, address, 0xFF 0xFF, data, check byte. Data longer than
// the panel takes is cut to its first 7500 bytes.
QByteArray build(qint16 address, QByteArrayView data);
// Exclusive-or of the address bytes and the data (the two 0xFF cancel out).
quint8 checkByte(qint16 address, QByteArrayView data);

// "81H 7EH 5H 0H ": the debug window's dump.
QString hexDump(QByteArrayView bytes);
// "  =>  23 Caracteres.": appended to the status bar at each exchange.
QString sizeText(qsizetype encodedBytes);
// "81 7E 05 00": the command-line tool's hex form.
QString hexLine(QByteArrayView bytes);

} // namespace frame
