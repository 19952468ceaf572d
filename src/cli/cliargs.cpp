#include "cliargs.h"

#include "rtfreader.h"

#include "messagefile.h"
#include "usage.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdio>

namespace
{
bool g_outputFailed = false;

void print(FILE *f, const QString &line)
{
    const QByteArray b = (line + QLatin1Char('\n')).toUtf8();
    if (std::fwrite(b.constData(), 1, size_t(b.size()), f) != size_t(b.size()) ||
        std::fflush(f) != 0)
        g_outputFailed = true;
}
} // namespace

bool outputFailed()
{
    return g_outputFailed;
}

void printOut(const QString &line)
{
    print(stdout, line);
}
void printErr(const QString &line)
{
    print(stderr, line);
}

QString versionText()
{
    return QStringLiteral("%1 %2.%3.%4")
        .arg(QCoreApplication::applicationName())
        .arg(LETREIRO_VERSION_MAJOR)
        .arg(LETREIRO_VERSION_MINOR)
        .arg(LETREIRO_VERSION_PATCH);
}

namespace
{
QString g_command;

QString programAndCommand()
{
    return g_command.isEmpty() ? QStringLiteral("letreiro-cli")
                               : QStringLiteral("letreiro-cli ") + g_command;
}
} // namespace

void setCommandName(const QString &command)
{
    g_command = command;
}

void printError(const QString &message)
{
    printErr(programAndCommand() + QStringLiteral(": ") + message);
}

int usageError(const QString &message)
{
    printError(message);
    printErr(g_command.isEmpty() ? usage::programShort() : usage::commandShort(g_command));
    return ExitUsage;
}

std::optional<int> parseArgs(QCommandLineParser &parser, const QStringList &args, int positional)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(
        QStringList{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("ajuda")});
    parser.addOption(help);
    const bool parsed = parser.parse(args);
    // Asking for help is never a mistake, whatever else the line holds.
    if (parser.isSet(help)) {
        printOut(usage::command(g_command));
        return ExitOk;
    }
    if (!parsed) {
        // Qt's own reasons are English; the operator reads Portuguese.
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return usageError(QStringLiteral("opção desconhecida: --%1")
                                  .arg(unknown.join(QStringLiteral(", --"))));
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("'([^']*)'")).match(parser.errorText());
        return usageError(m.hasMatch() ? QStringLiteral("falta o valor de --%1")
                                             .arg(m.captured(1).remove(QLatin1Char('-')))
                                       : QStringLiteral("opções inválidas"));
    }
    const QStringList given = parser.positionalArguments();
    if (positional >= 0 && given.size() != positional) {
        if (positional == 0)
            return usageError(
                QStringLiteral("argumentos demais: %1").arg(given.join(QLatin1Char(' '))));
        return usageError(given.isEmpty() ? QStringLiteral("falta o argumento")
                                          : QStringLiteral("argumentos demais: %1")
                                                .arg(given.mid(positional).join(QLatin1Char(' '))));
    }
    return std::nullopt;
}

QString readTypedInput()
{
    QByteArray all;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, stdin)) > 0;) {
        all.append(buf, qsizetype(n));
        if (all.size() > 4 * 1024 * 1024) break; // a message, not a stream
    }
    QString text = QString::fromUtf8(all);
    // `echo` ends the text with a line end that nobody typed.
    if (text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    else if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

std::optional<QString> typedText(const QCommandLineParser &parser,
                                 const QCommandLineOption &textOption)
{
    if (parser.isSet(textOption)) return parser.value(textOption);
    if (parser.positionalArguments() != QStringList{QStringLiteral("-")}) return std::nullopt;
    return readTypedInput();
}

std::optional<int> intOption(const QString &value, int low, int high)
{
    bool ok = false;
    const int v = value.toInt(&ok);
    if (!ok || v < low || v > high) return std::nullopt;
    return v;
}

bool readMessageFile(const QString &path, RichText *text)
{
    RtfReadResult r = messagefile::read(path);
    if (!r.ok) {
        printError(QStringLiteral("%1 (%2)").arg(r.error, path));
        return false;
    }
    *text = std::move(r.text);
    return true;
}
