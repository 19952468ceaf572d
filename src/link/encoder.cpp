#include "encoder.h"

#include "sharedsettings.h"

#include <array>
#include <iterator>
#include <cstring>

namespace tagcodes
{

const Entry kTable[] = {
    {"Roda_Cima__", 0xCC, true},
    {"Roda__Baixo", 0xC9, true},
    {"Roda___4___", 0xC5, true},
    {"Neve_______", 0xCF, true},
    {"Come_______", 0xCE, true},
    {"Empurra____", 0xC6, true},
    {"Salta______", 0xD0, true},
    {"Atira______", 0xD3, true},
    {"Abre_______", 0xCB, true},
    {"Mostra_____", 0xC4, true},
    {"Display____", 0xCA, true},
    {"Onda_______", 0xC8, true},
    {"Var__Centro", 0xB9, false},
    {"VarEsquerda", 0xB6, false},
    {"Varre__4___", 0xBA, false},
    {"Varre_Baixo", 0xB5, false},
    {"Abre_Centro", 0xBF, false},
    {"Abre_Cima__", 0xBB, false},
    {"AbreDireita", 0xBE, false},
    {"Rolagem____", 0xB2, false},
    {"Pisca______", 0xB1, false},
    {"Pausa______", 0xB0, false},
    {"Data_______", 0xDB, false},
    {"Relogio____", 0xDA, false},
    {"Velocidade1", 0xD4, false},
    {"Velocidade2", 0xD5, false},
    {"Velocidade3", 0xD6, false},
    {"Velocidade4", 0xD7, false},
    {"Velocidade5", 0xD8, false},
    {"Velocidade6", 0xD9, false},
    // The panel has no temperature code of its own: it shares "Abre Direita"'s.
    {"Temperatura", 0xBE, false},
};

const int kTableSize = int(std::size(kTable));

const char *nameOf(quint8 code)
{
    for (const Entry &e : kTable) {
        if (e.code == code) return e.name;
    }
    return nullptr;
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
    if (name.size() != 11) return std::nullopt;
    for (const tagcodes::Entry &e : tagcodes::kTable) {
        if (std::memcmp(e.name, name.data(), 11) == 0) {
            if (e.prefix) m_charsAfterPrefix = 0;
            return e.code;
        }
    }
    return std::nullopt;
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
        if (field[i] == '<' && i + 12 < len && field[i + 12] == '>') {
            m_charsAfterPrefix = kNoCount;
            if (const auto code = tagCode(field.sliced(i + 1, 11))) out.append(char(*code));
            i += 13;
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
