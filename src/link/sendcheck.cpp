#include "sendcheck.h"

#include "cp1252.h"
#include "encoder.h"
#include "flatten.h"
#include "frame.h"
#include "vocabulary.h"

namespace sendcheck
{

QStringList differences(const RichText &text, int panelType)
{
    QStringList out;
    QString replaced;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.charAt(i);
        if (c == u'\r' || c == u'\n' || c == u'\t') continue;
        QString ch(c);
        if (c.isHighSurrogate() && text.charAt(i + 1).isLowSurrogate())
            ch += text.charAt(++i);
        else if (cp1252::fromUnicode(c) >= 0)
            continue;
        if (!replaced.contains(ch)) replaced += ch;
    }
    if (!replaced.isEmpty())
        out << QStringLiteral("caracteres sem lugar no painel, enviados como \"?\": %1")
                   .arg(replaced);

    // The field as the encoder walks it: tags of 13 characters, the rest
    // character by character.
    const QByteArray field = flattenMessage(text);
    MessageEncoder encoder;
    QStringList unknown;
    QString effects;
    for (qsizetype i = 0; i < field.size(); ++i) {
        constexpr int kTag = vocabulary::kTagLength;
        if (field[i] == '<' && i + kTag - 1 < field.size() && field[i + kTag - 1] == '>') {
            if (!encoder.tagCode(field.sliced(i + 1, vocabulary::kNameLength))) {
                const QString tag = cp1252::decode(field.sliced(i, kTag));
                if (!unknown.contains(tag)) unknown << tag;
            }
            i += kTag - 1;
            continue;
        }
        const quint8 b = MessageEncoder::mapAccentedChar(quint8(field[i]));
        const QString name = b >= 0x80 ? tagcodes::nameOf(b) : QString();
        const QChar c = cp1252::toUnicode(quint8(field[i]));
        if (!name.isEmpty() && quint8(field[i]) != frame::kExpandedMarker && !effects.contains(c))
            effects +=
                QStringLiteral("%1\"%2\" (<%3>)")
                    .arg(effects.isEmpty() ? QString() : QStringLiteral(", "), QString(c), name);
    }
    if (!unknown.isEmpty())
        out << QStringLiteral("efeitos desconhecidos, não enviados: %1")
                   .arg(unknown.join(QStringLiteral(" ")));
    if (!effects.isEmpty())
        out << QStringLiteral("caracteres que o painel lê como efeito: %1").arg(effects);
    const qsizetype encoded = encodeMessage('L' + field, panelType).size();
    if (encoded > frame::kMaxData)
        out << QStringLiteral("a mensagem codificada tem %1 bytes; o painel recebe só os "
                              "primeiros %2")
                   .arg(encoded)
                   .arg(frame::kMaxData);
    return out;
}

} // namespace sendcheck
