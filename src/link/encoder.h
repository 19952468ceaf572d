#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Turns a command's data field (Windows-1252 bytes) into what the panel
// reads: each effect tag becomes one code byte, accented letters become the
// codes 1 to 13, and after a prefix effect one space is added once the
// panel's width in characters has followed.
class MessageEncoder
{
public:
    static constexpr qint16 kNoCount = 255;

    QByteArray encodeMessage(QByteArrayView field, int panelType);

    // The code of an eleven-character tag name, or nothing for a name the
    // panel does not know. A prefix effect starts the character count.
    std::optional<quint8> tagCode(QByteArrayView name);

    // The accented-letter code of a byte, or the byte itself.
    static quint8 mapAccentedChar(quint8 c);

    qint16 charsAfterPrefix() const { return m_charsAfterPrefix; }

private:
    qint16 m_charsAfterPrefix = kNoCount;
};

// One-shot form for callers that keep no encoder.
QByteArray encodeMessage(QByteArrayView field, int panelType);

namespace tagcodes
{
// The tag name of a code ("Pisca______"), for whoever reads the wire back;
// the first tag wins where two share one; empty for none.
QString nameOf(quint8 code);
// The letter an accented-letter code stands for (lower case), or 0.
char16_t accentedLetterOf(quint8 code);
} // namespace tagcodes
