#include "logging.h"

#include <QStringDecoder>

#include <cstdio>
#include <cstdlib>

Q_LOGGING_CATEGORY(lcHttp, "letreiro.http")
Q_LOGGING_CATEGORY(lcMqtt, "letreiro.mqtt")
Q_LOGGING_CATEGORY(lcRelay, "letreiro.relay")
Q_LOGGING_CATEGORY(lcLine, "letreiro.linha")
Q_LOGGING_CATEGORY(lcAgenda, "letreiro.agenda")
Q_LOGGING_CATEGORY(lcState, "letreiro.estado")
Q_LOGGING_CATEGORY(lcSede, "letreiro.sede")

namespace
{
bool g_journal = false;

// The priorities of syslog, which the journal reads at a line's start.
int priority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return 7;
    case QtInfoMsg: return 6;
    case QtWarningMsg: return 4;
    case QtCriticalMsg: return 3;
    case QtFatalMsg: return 2;
    }
    return 6;
}

void write(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const QByteArray category = context.category && qstrcmp(context.category, "default") != 0
                                    ? QByteArray(context.category)
                                    : QByteArrayLiteral("letreiro");
    // Whatever reached the log without being made printable (Qt's own
    // messages) still stays on one line; what was, is not escaped twice.
    QString safe;
    for (const QChar c : text)
        safe += c == u'\n' || c == u'\r' ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                                         : QString(c);
    const QByteArray line = safe.toUtf8();
    if (g_journal)
        std::fprintf(stderr, "<%d>%s: %s\n", priority(type), category.constData(), line.constData());
    else
        std::fprintf(stderr, "letreiro-servidor: %s\n", line.constData());
    std::fflush(stderr);
    if (type == QtFatalMsg) std::abort();
}

void escape(QString &out, char32_t c)
{
    out += c < 0x100 ? QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'))
                     : QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
}

bool unsafe(char32_t c)
{
    return c == u'\\' || logging::isInvisible(c);
}
} // namespace

namespace logging
{

bool isInvisible(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Surrogate:
    case QChar::Other_NotAssigned:
    case QChar::Other_PrivateUse:
        return true;
    default:
        return false;
    }
}

void install()
{
    g_journal = !qEnvironmentVariableIsEmpty("JOURNAL_STREAM");
    qInstallMessageHandler(write);
}

QString printable(QStringView text, int limit)
{
    QString out;
    int count = 0;
    for (char32_t c : text.toUcs4()) {
        if (count++ == limit) {
            out += u'…';
            break;
        }
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (unsafe(c))
            escape(out, c);
        else
            out += QString::fromUcs4(&c, 1);
    }
    return out;
}

QString printable(const QByteArray &bytes, int limit)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    if (!utf8.hasError()) return printable(QStringView(text), limit);
    // Not UTF-8: each byte beyond ASCII said as itself.
    QString out;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i == limit) {
            out += u'…';
            break;
        }
        const auto b = quint8(bytes[i]);
        if (b < 0x20 || b >= 0x7F || b == '\\')
            escape(out, b);
        else
            out += QLatin1Char(char(b));
    }
    return out;
}

} // namespace logging
