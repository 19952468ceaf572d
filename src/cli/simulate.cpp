#include "simulate.h"

#include "cliargs.h"
#include "flatten.h"
#include "ledpainter.h"
#include "ledsvg.h"
#include "messagefile.h"
#include "rtfreader.h"
#include "simdrivers.h"
#include "simperiod.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace
{

QString jsonString(const QString &s)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : s) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + c;
        else if (c.unicode() < 0x20)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 3);
}

// One line of output: the visible cells, the alignment, the tag box and the
// colour of each cell (RRGGBB, red first).
QString stateLine(const SimulationEngine &engine)
{
    QString view, colours;
    for (const auto &cell : engine.cells()) {
        view += cell ? cell->ch : QLatin1Char(' ');
        if (!colours.isEmpty()) colours += QLatin1String(", ");
        if (cell) {
            const ColourRef c = cell->format.colour;
            colours += QStringLiteral("\"%1%2%3\"")
                           .arg(colourRed(c), 2, 16, QLatin1Char('0'))
                           .arg(colourGreen(c), 2, 16, QLatin1Char('0'))
                           .arg(colourBlue(c), 2, 16, QLatin1Char('0'))
                           .toUpper();
        } else {
            colours += QLatin1String("\"\"");
        }
    }
    const bool right = engine.view().alignment() == Alignment::Right;
    return QStringLiteral(
               "\"visor\": %1, \"alinhamento\": \"%2\", \"etiqueta\": %3, \"cores\": [%4]}")
        .arg(jsonString(view), right ? QStringLiteral("direita") : QStringLiteral("esquerda"),
             jsonString(engine.tagBox()), colours);
}

// At most one day of virtual time, and a number (not "nan", not "inf").
constexpr double kMaxSeconds = 86400;
// An animation of more states than this would take hundreds of megabytes to
// hold and to write.
constexpr qsizetype kMaxPictureStates = 50000;

bool parseSeconds(const QString &text, qint64 *ms)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < 0 || v > kMaxSeconds) return false;
    *ms = qRound64(v * 1000);
    return true;
}

// Pictures go to a regular file or a new path, and never over the message
// they show: a device node or the input would be replaced by a file.
QString outputProblem(const QString &path, const QString &input)
{
    const QFileInfo out(path);
    if (!out.exists()) return {};
    if (!out.isFile()) return QStringLiteral("%1 não é um arquivo comum").arg(path);
    if (out.canonicalFilePath() == QFileInfo(input).canonicalFilePath())
        return QStringLiteral("%1 é a própria mensagem").arg(path);
    return {};
}

// "5, 6, 9, 12, 15 e 30", from the simulation itself.
QString supportedWidths()
{
    QStringList widths;
    for (int w = 1; w <= 30; ++w) {
        if (simwidth::isSupported(w)) widths.append(QString::number(w));
    }
    const QString last = widths.takeLast();
    return widths.join(QStringLiteral(", ")) + QStringLiteral(" e ") + last;
}

} // namespace

int runSimulate(const QStringList &args)
{
    QCommandLineParser p;
    const QCommandLineOption width(QStringLiteral("largura"), QString(), QStringLiteral("W"));
    const QCommandLineOption until(QStringLiteral("ate"), QString(), QStringLiteral("S"));
    const QCommandLineOption stopAt(QStringLiteral("parar-em"), QString(), QStringLiteral("S"));
    const QCommandLineOption clock(QStringLiteral("relogio"), QString(),
                                   QStringLiteral("AAAA-MM-DD HH:MM:SS"));
    const QCommandLineOption svg(QStringLiteral("svg"), QString(), QStringLiteral("ARQUIVO.svg"));
    const QCommandLineOption png(QStringLiteral("png"), QString(), QStringLiteral("ARQUIVO.png"));
    const QCommandLineOption text(QStringLiteral("texto"), QString(), QStringLiteral("TEXTO"));
    for (const auto &o : {width, until, stopAt, clock, svg, png, text})
        p.addOption(o);
    if (const auto stop = parseArgs(p, args, -1)) return *stop;
    const QStringList files = p.positionalArguments();
    if (p.isSet(text) ? !files.isEmpty() : files.size() != 1)
        return usageError(QStringLiteral("dê um ARQUIVO.msg, - (a entrada padrão) ou --texto"));
    if (!p.isSet(width)) return usageError(QStringLiteral("falta --largura"));
    bool ok = false;
    const int w = p.value(width).toInt(&ok);
    if (!ok || !simwidth::isSupported(w)) {
        // The panels of 7 and 10 characters and the long ones exist but
        // have no simulation: the desktop program's words for them.
        const QString why =
            ok && (w == 7 || w == 10 || w > 30)
                ? QStringLiteral("Opção inválida para esta quantidade de caracteres")
                : QStringLiteral("não há painel dessa largura");
        return usageError(QStringLiteral("--largura %1: %2; as larguras simuladas são %3")
                              .arg(p.value(width), why, supportedWidths()));
    }
    qint64 untilMs = 30000, stopMs = -1;
    if (p.isSet(until) && !parseSeconds(p.value(until), &untilMs))
        return usageError(QStringLiteral("--ate deve ser um número de segundos de 0 a 86400"));
    if (p.isSet(stopAt) && !parseSeconds(p.value(stopAt), &stopMs))
        return usageError(QStringLiteral("--parar-em deve ser um número de segundos de 0 a 86400"));
    const std::optional<QString> typed = typedText(p, text);
    const QString input = typed ? QString() : files.constFirst();
    for (const auto &o : {svg, png}) {
        if (!p.isSet(o)) continue;
        if (const QString why = outputProblem(p.value(o), input); !why.isEmpty()) {
            printError(QStringLiteral("--%1: %2").arg(o.names().constFirst(), why));
            return ExitUsage;
        }
    }
    if (p.isSet(svg) && p.isSet(png) &&
        QFileInfo(p.value(svg)).absoluteFilePath() == QFileInfo(p.value(png)).absoluteFilePath())
        return usageError(QStringLiteral("--svg e --png no mesmo arquivo"));
    QDateTime start = QDateTime::currentDateTime();
    if (p.isSet(clock)) {
        start = QDateTime::fromString(p.value(clock), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!start.isValid())
            return usageError(QStringLiteral("--relogio deve ter a forma AAAA-MM-DD HH:MM:SS"));
    }

    RichText message;
    if (typed)
        message = typedMessage(*typed);
    else if (!readMessageFile(input, &message))
        return ExitUsage;

    const VirtualSimulationDriver *driverPtr = nullptr;
    SimulationEngine engine(message, w,
                            [&] { return start.addMSecs(driverPtr ? driverPtr->now() : 0); });
    VirtualSimulationDriver driver(engine);
    driverPtr = &driver;
    driver.setStopAt(stopMs);
    QString last = stateLine(engine);
    PeriodFinder period;
    if (stopMs >= 0) period.giveUp(); // a stop makes the timeline end
    // The states as the JSON lines give them, for the animation only.
    const bool keepStates = p.isSet(svg);
    bool tooMany = false;
    QVector<LedState> states;
    qint64 endMs = untilMs;
    driver.run(untilMs, [&](qint64 t, SimWait wait) {
        if (wait.kind == SimWait::Finished) {
            printOut(QStringLiteral("{\"t\": %1, \"fim\": true}").arg(seconds(t)));
            endMs = t;
            return;
        }
        const QString line = stateLine(engine);
        if (line != last) {
            printOut(QStringLiteral("{\"t\": %1, ").arg(seconds(t)) + line);
            // Once the message has started over, one round is all the
            // animation needs.
            const bool roundKnown = period.period().has_value();
            period.stateChanged(engine, wait, t);
            if (keepStates && !roundKnown) {
                if (states.size() < kMaxPictureStates)
                    states.append({double(t) / 1000.0, engine.cells()});
                else
                    tooMany = true;
            }
        }
        last = line;
    });
    const auto save = [](const QString &path, const QByteArray &bytes) {
        const QString why = messagefile::saveFile(path, bytes);
        if (why.isEmpty()) return true;
        printError(QStringLiteral("não foi possível gravar %1: %2").arg(path, why));
        return false;
    };
    std::optional<LedLoop> loop;
    if (const auto &p = period.period(); p && p->startMs + p->lengthMs <= endMs) {
        loop = LedLoop{double(p->startMs) / 1000.0, double(p->lengthMs) / 1000.0};
        tooMany = false;
    }
    if (tooMany) {
        printError(QStringLiteral("--svg: a animação teria mais de %1 estados; "
                                  "use um --ate menor")
                       .arg(kMaxPictureStates));
        return ExitUsage;
    }
    if (p.isSet(svg) &&
        !save(p.value(svg), ledAnimationSvg(states, double(endMs) / 1000.0, w, loop)))
        return ExitUsage;
    if (p.isSet(png)) {
        // A still of the view as it stands at the end (--ate), 8 px a dot.
        const QImage still = renderLeds(engine.cells(), QSize(w * 6 * 8, 9 * 8));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        still.save(&buffer, "PNG");
        if (!save(p.value(png), bytes)) return ExitUsage;
    }
    return ExitOk;
}
