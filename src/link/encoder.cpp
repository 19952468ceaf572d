#include "encoder.h"

#include "settings.h"
#include "vocabulary.h"

#include <array>
#include <cstring>
#include <iterator>

namespace tagcodes
{

QString nameOf(quint8 code)
{
    const vocabulary::Tag *t = vocabulary::withCode(code);
    return t ? t->name : QString();
}

namespace
{
// Upper and lower case of a letter share one code.
constexpr char16_t kAccented[14] = {0,    u'à', u'á', u'â', u'ã', u'é', u'ê',
                                    u'í', u'ó', u'ô', u'õ', u'ú', u'ç', u'ñ'};
} // namespace

char16_t accentedLetterOf(quint8 code)
{
    return code >= 1 && code <= 13 ? kAccented[code] : 0;
}

} // namespace tagcodes

namespace
{

// Byte to byte: Windows-1252 accented letters to their codes, the rest kept.
const std::array<quint8, 256> &accentTable()
{
    static const std::array<quint8, 256> table = [] {
        std::array<quint8, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[size_t(i)] = quint8(i);
        for (quint8 code = 1; code <= 13; ++code) {
            const char16_t lower = tagcodes::accentedLetterOf(code);
            t[lower] = code;        // Latin-1 range: the character is its byte
            t[lower - 0x20] = code; // and its capital stands 0x20 below
        }
        return t;
    }();
    return table;
}

} // namespace

quint8 MessageEncoder::mapAccentedChar(quint8 c)
{
    return accentTable()[c];
}

std::optional<quint8> MessageEncoder::tagCode(QByteArrayView name)
{
    const auto code = vocabulary::panelCode(name);
    if (code && code->prefix) m_charsAfterPrefix = 0;
    return code ? std::optional<quint8>(code->byte) : std::nullopt;
}

QByteArray MessageEncoder::encodeMessage(QByteArrayView field, int panelType)
{
    const int encoderWidth = panelwidth::encoderWidth(panelType);
    const qsizetype len = field.size();
    const auto &accents = accentTable();
    QByteArray out;
    out.reserve(len + len / 8 + 1);
    m_charsAfterPrefix = kNoCount;
    if (len == 0) {
        out.append(' '); // an empty field still sends one character
        return out;
    }
    qsizetype i = 0;
    while (i < len) {
        constexpr int kTag = vocabulary::kTagLength;
        if (field[i] == '<' && i + kTag - 1 < len && field[i + kTag - 1] == '>') {
            m_charsAfterPrefix = kNoCount;
            if (const auto code = tagCode(field.sliced(i + 1, vocabulary::kNameLength)))
                out.append(char(*code));
            i += kTag;
            continue;
        }
        out.append(char(accents[quint8(field[i])]));
        if (m_charsAfterPrefix != kNoCount) {
            ++m_charsAfterPrefix;
            if (encoderWidth == 0) {
                m_charsAfterPrefix = kNoCount;
            } else if (m_charsAfterPrefix >= encoderWidth) {
                m_charsAfterPrefix = kNoCount;
                out.append(' ');
            }
        }
        ++i;
    }
    return out;
}

QByteArray encodeMessage(QByteArrayView field, int panelType)
{
    return MessageEncoder().encodeMessage(field, panelType);
}
