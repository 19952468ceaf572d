#include "sendcheck.h"

#include "cp1252.h"
#include "encoder.h"
#include "flatten.h"
#include "frame.h"
#include "vocabulary.h"
#include "wiredecoder.h"

namespace sendcheck
{
namespace
{

bool isDropped(QChar c)
{
    return c == u'\r' || c == u'\n' || c == u'\t';
}

// Characters the code page has no byte for, each named once.
QString unplaceable(const RichText &text)
{
    QString replaced;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.charAt(i);
        if (isDropped(c)) continue;
        QString ch(c);
        if (c.isHighSurrogate() && text.charAt(i + 1).isLowSurrogate())
            ch += text.charAt(++i);
        else if (cp1252::fromUnicode(c) >= 0)
            continue;
        if (!replaced.contains(ch)) replaced += ch;
    }
    return replaced;
}

// A line break or tab with words after it runs them together on the one
// line the panel has; those that only end the text change nothing seen.
// Control characters the code page passes through as bytes of their own,
// which the panel draws as something else (BEL as "í"), said by code point.
QString controls(const RichText &text)
{
    QStringList found;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.charAt(i);
        if (isDropped(c) || (c.unicode() >= 0x20 && c.unicode() != 0x7F)) continue;
        const QString code = QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
        if (!found.contains(code)) found << code;
    }
    return found.join(QLatin1Char(' '));
}

bool joinsWords(const RichText &text)
{
    bool dropped = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.charAt(i);
        if (isDropped(c))
            dropped = true;
        else if (dropped && !c.isSpace())
            return true;
    }
    return false;
}

qsizetype encodedSize(QByteArrayView field, int panelType)
{
    return encodeMessage('L' + field.toByteArray(), panelType).size();
}

// How many bytes of the flattened field reach the panel when its encoding
// is longer than a frame: the longest beginning that still fits.
qsizetype fittingPrefix(const QByteArray &field, int panelType)
{
    qsizetype low = 0, high = field.size();
    while (low < high) {
        const qsizetype mid = (low + high + 1) / 2;
        if (encodedSize(field.first(mid), panelType) <= frame::kMaxData)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

} // namespace

QStringList differences(const RichText &text, int panelType)
{
    QStringList out;
    if (const QString replaced = unplaceable(text); !replaced.isEmpty())
        out << QStringLiteral("caracteres sem lugar no painel, enviados como \"?\": %1")
                   .arg(replaced);
    if (const QString found = controls(text); !found.isEmpty())
        out << QStringLiteral("caracteres de controle, que o painel não mostra como escritos: %1")
                   .arg(found);
    if (joinsWords(text))
        out << QStringLiteral("quebras de linha retiradas: o painel mostra o texto numa "
                              "linha só");

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
    const qsizetype encoded = encodedSize(field, panelType);
    if (encoded > frame::kMaxData)
        out << QStringLiteral("texto longo demais: codificado tem %1 bytes e um envio leva "
                              "%2; o painel recebe só os primeiros %3 caracteres")
                   .arg(encoded)
                   .arg(frame::kMaxData)
                   .arg(fittingPrefix(field, panelType));
    return out;
}

Size size(const RichText &text, int panelType)
{
    return {encodeMessage(loadCommandField(text), panelType).size(), frame::kMaxData};
}

Received received(const RichText &text, int panelType)
{
    Received r;
    r.data = encodeMessage(loadCommandField(text), panelType);
    r.used = r.data.size();
    r.limit = frame::kMaxData;
    r.data.truncate(frame::kMaxData);
    // Without the command's letter: the text as the panel holds it.
    r.text = decodeWireData(r.data).mid(1);
    return r;
}

} // namespace sendcheck
