#include "rtfreader.h"

#include "cp1252.h"
#include "rtfkeywords.h"

#include <string_view>
#include <vector>

namespace
{

constexpr int kMaxDepth = 1000;
constexpr int kDefaultHalfPoints = 24;

enum class Dest { Text, Skip, FontTable, ColourTable };

using rtf::Kw;

struct State {
    Dest dest = Dest::Text;
    bool bold = false;
    bool underline = false;
    int halfPoints = kDefaultHalfPoints;
    int colourIndex = 0;
    int unicodeSkip = 1;
    Alignment alignment = Alignment::Left;
};

struct Colour {
    int r = -1, g = -1, b = -1;
    bool isSet() const { return r >= 0 || g >= 0 || b >= 0; }
};

QString invalid(const char *why)
{
    return QStringLiteral("Arquivo de mensagem inválido: %1").arg(QString::fromUtf8(why));
}

class Reader
{
public:
    explicit Reader(QByteArrayView data) : m_data(data) {}
    RtfReadResult run();

private:
    void controlWord(std::string_view word, bool hasParam, long param);
    void character(QChar c);
    void commitColour();
    CharFormat currentFormat() const;

    QByteArrayView m_data;
    qsizetype m_pos = 0;
    std::vector<State> m_stack;
    State m_state;
    std::vector<ColourRef> m_colours; // index 0 is the automatic colour
    Colour m_pendingColour;
    RichText m_text;
    int m_skipChars = 0; // characters still to drop after a \u
    bool m_endsWithPar = false;
    bool m_alignmentSeen = false;
};

CharFormat Reader::currentFormat() const
{
    CharFormat f;
    f.bold = m_state.bold;
    f.underline = m_state.underline;
    f.pointSize = m_state.halfPoints / 2.0;
    const auto idx = size_t(m_state.colourIndex);
    f.colour = idx < m_colours.size() ? m_colours[idx] : 0;
    return f;
}

void Reader::character(QChar c)
{
    if (m_skipChars > 0) {
        --m_skipChars;
        return;
    }
    if (m_state.dest != Dest::Text) return;
    if (!m_alignmentSeen) {
        m_text.setAlignment(m_state.alignment);
        m_alignmentSeen = true;
    }
    m_text.append(c, currentFormat());
    m_endsWithPar = false;
}

void Reader::commitColour()
{
    const Colour &c = m_pendingColour;
    if (!c.isSet())
        m_colours.push_back(0); // an empty entry is the automatic colour
    else
        m_colours.push_back(rgbColour(qMax(c.r, 0), qMax(c.g, 0), qMax(c.b, 0)));
    m_pendingColour = {};
}

void Reader::controlWord(std::string_view word, bool hasParam, long param)
{
    const auto kw = rtf::keyword(word);
    if (!kw) return;
    const auto clampByte = [&] { return int(qBound(0L, param, 255L)); };
    switch (*kw) {
    case Kw::Par:
        character(QLatin1Char('\n'));
        if (m_state.dest == Dest::Text && m_skipChars == 0) m_endsWithPar = true;
        break;
    case Kw::Line:
    case Kw::Row:
        character(QLatin1Char('\n'));
        break;
    case Kw::Tab:
    case Kw::Cell:
        character(QLatin1Char('\t'));
        break;
    case Kw::Plain:
        m_state.bold = m_state.underline = false;
        m_state.halfPoints = kDefaultHalfPoints;
        m_state.colourIndex = 0;
        break;
    case Kw::Pard:
        m_state.alignment = Alignment::Left;
        break;
    case Kw::Bold:
        m_state.bold = !hasParam || param != 0;
        break;
    case Kw::Underline:
        m_state.underline = !hasParam || param != 0;
        break;
    case Kw::UnderlineNone:
        m_state.underline = false;
        break;
    case Kw::FontSize:
        m_state.halfPoints = hasParam && param > 0 ? int(qMin(param, 3276L)) : kDefaultHalfPoints;
        break;
    case Kw::Colour:
        m_state.colourIndex = hasParam ? int(qBound(0L, param, 1L << 20)) : 0;
        break;
    case Kw::Red:
        m_pendingColour.r = clampByte();
        break;
    case Kw::Green:
        m_pendingColour.g = clampByte();
        break;
    case Kw::Blue:
        m_pendingColour.b = clampByte();
        break;
    case Kw::Unicode: {
        if (!hasParam) break;
        // Writers give values above 32767 as negative 16-bit numbers.
        const long v = param < 0 ? param + 65536 : param;
        const int skip = m_state.unicodeSkip;
        if (v >= 0 && v <= 0xFFFF) character(QChar(char16_t(v)));
        m_skipChars = skip;
        break;
    }
    case Kw::UnicodeSkip:
        m_state.unicodeSkip = hasParam ? int(qBound(0L, param, 16L)) : 1;
        break;
    case Kw::Bin: {
        // Raw bytes follow; they are data, never text.
        const qsizetype n = hasParam && param > 0 ? qsizetype(param) : 0;
        m_pos += qMin(n, m_data.size() - m_pos);
        if (m_skipChars > 0) --m_skipChars;
        break;
    }
    case Kw::AlignLeft:
        m_state.alignment = Alignment::Left;
        break;
    case Kw::AlignRight:
        m_state.alignment = Alignment::Right;
        break;
    case Kw::AlignCenter:
        m_state.alignment = Alignment::Center;
        break;
    case Kw::AlignJustify:
        m_state.alignment = Alignment::Justify;
        break;
    case Kw::FontTable:
        m_state.dest = Dest::FontTable;
        break;
    case Kw::ColourTable:
        m_state.dest = Dest::ColourTable;
        m_colours.clear();
        m_pendingColour = {};
        break;
    case Kw::SkipDest:
        m_state.dest = Dest::Skip;
        break;
    case Kw::Emdash:
        character(QChar(0x2014));
        break;
    case Kw::Endash:
        character(QChar(0x2013));
        break;
    case Kw::Bullet:
        character(QChar(0x2022));
        break;
    case Kw::LQuote:
        character(QChar(0x2018));
        break;
    case Kw::RQuote:
        character(QChar(0x2019));
        break;
    case Kw::LDblQuote:
        character(QChar(0x201C));
        break;
    case Kw::RDblQuote:
        character(QChar(0x201D));
        break;
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

RtfReadResult Reader::run()
{
    RtfReadResult result;
    if (!looksLikeRtf(m_data)) {
        result.error = invalid("o arquivo não está no formato RTF.");
        return result;
    }
    while (m_data[m_pos] != '{')
        ++m_pos;
    m_text.reserve(m_data.size() / 4);
    bool closed = false;
    const qsizetype n = m_data.size();
    while (m_pos < n && !closed) {
        const char c = m_data[m_pos++];
        switch (c) {
        case '{':
            if (m_stack.size() >= size_t(kMaxDepth)) {
                result.error = invalid("grupos aninhados em excesso.");
                return result;
            }
            m_stack.push_back(m_state);
            m_skipChars = 0;
            break;
        case '}':
            if (m_state.dest == Dest::ColourTable && m_pendingColour.isSet()) commitColour();
            m_state = m_stack.back();
            m_stack.pop_back();
            m_skipChars = 0;
            closed = m_stack.empty();
            break;
        case '\r':
        case '\n':
            break;
        case '\\': {
            if (m_pos >= n) break;
            const char d = m_data[m_pos];
            if (isLetter(d)) {
                const qsizetype start = m_pos;
                while (m_pos < n && isLetter(m_data[m_pos]) && m_pos - start < 32)
                    ++m_pos;
                const std::string_view word(m_data.data() + start, size_t(m_pos - start));
                bool negative = false, hasParam = false;
                long param = 0;
                if (m_pos < n && m_data[m_pos] == '-' && m_pos + 1 < n &&
                    isDigit(m_data[m_pos + 1])) {
                    negative = true;
                    ++m_pos;
                }
                while (m_pos < n && isDigit(m_data[m_pos])) {
                    hasParam = true;
                    if (param < 100000000L) // larger numbers are nonsense; keep them bounded
                        param = param * 10 + (m_data[m_pos] - '0');
                    ++m_pos;
                }
                if (negative) param = -param;
                if (m_pos < n && m_data[m_pos] == ' ') ++m_pos;
                if (m_skipChars > 0 && word != "bin") {
                    --m_skipChars; // a control word stands for one skipped character
                    break;
                }
                controlWord(word, hasParam, param);
            } else {
                ++m_pos;
                switch (d) {
                case '\'': {
                    const int hi = m_pos < n ? hexValue(m_data[m_pos]) : -1;
                    const int lo = m_pos + 1 < n ? hexValue(m_data[m_pos + 1]) : -1;
                    if (hi >= 0 && lo >= 0) {
                        m_pos += 2;
                        if (m_state.dest == Dest::ColourTable) break;
                        character(cp1252::toUnicode(uchar(hi * 16 + lo)));
                    }
                    break;
                }
                case '*':
                    m_state.dest = Dest::Skip;
                    break;
                case '~':
                    character(QChar(0x00A0));
                    break;
                case '_':
                    character(QChar(0x2011));
                    break;
                case '\r':
                case '\n':
                    controlWord("par", false, 0);
                    break;
                case '\\':
                case '{':
                case '}':
                    character(QLatin1Char(d));
                    break;
                default:
                    break; // \- (optional hyphen), \| and others carry no text
                }
            }
            break;
        }
        default:
            if (m_state.dest == Dest::ColourTable) {
                if (c == ';') commitColour();
                break;
            }
            character(cp1252::toUnicode(uchar(c)));
            break;
        }
    }
    if (!closed) {
        result.error = invalid("o arquivo termina antes do fim do documento.");
        return result;
    }
    // RichEdit ends every document with a paragraph mark that is not text.
    if (m_endsWithPar && !m_text.isEmpty()) m_text.chop(1);
    if (!m_alignmentSeen) m_text.setAlignment(m_state.alignment);
    result.ok = true;
    result.text = std::move(m_text);
    return result;
}

} // namespace

bool looksLikeRtf(QByteArrayView data)
{
    qsizetype i = 0;
    while (i < data.size() &&
           (data[i] == ' ' || data[i] == '\r' || data[i] == '\n' || data[i] == '\t'))
        ++i;
    return data.sliced(i).startsWith("{\\rtf");
}

RtfReadResult readRtf(QByteArrayView data)
{
    return Reader(data).run();
}
