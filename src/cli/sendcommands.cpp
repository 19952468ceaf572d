#include "sendcommands.h"

#include "cliargs.h"
#include "cp1252.h"
#include "deviceline.h"
#include "flatten.h"
#include "frame.h"
#include "panelcommands.h"
#include "panellink.h"
#include "portnames.h"
#include "progressline.h"
#include "rtfreader.h"
#include "sendcheck.h"
#include "sendsettings.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

using namespace sendoptions;

namespace
{

bool loadMessage(const QString &path, RichText &text, QByteArray *field)
{
    if (!readMessageFile(path, &text)) return false;
    if (text.isEmpty()) {
        printError(QStringLiteral("Favor editar uma mensagem!!! (%1 está vazio)").arg(path));
        return false;
    }
    *field = loadCommandField(text);
    return true;
}

// A message given as plain text (from --texto or standard input): tags are
// written by name, as in the editor, and the text goes out as the editor
// would send the same typed text.
bool messageFromText(const QString &text, RichText &rich, QByteArray *field)
{
    rich = plainMessage(text);
    const QByteArray flat = loadCommandField(rich);
    if (flat.size() <= 1) {
        printError(QStringLiteral("Favor editar uma mensagem!!!"));
        return false;
    }
    *field = flat;
    return true;
}

// {"endereco": 3, "ok": false, "resultado": "...", "motivo": "..."}
QString jsonOutcome(int address, const CommandOutcome &outcome)
{
    QJsonObject o{{QStringLiteral("endereco"), address},
                  {QStringLiteral("ok"), outcome.succeeded},
                  {QStringLiteral("resultado"), outcome.status}};
    if (!outcome.succeeded) o.insert(QStringLiteral("motivo"), outcome.reason);
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

// Opens the line; a port held by another program is tried again for up to
// `seconds` (a cron job that meets the desktop program mid-transfer).
bool stderrIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) != 0;
#endif
}

bool openWaiting(DeviceLine &line, const QString &device, int seconds, QString *error)
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (line.open(device, error)) return true;
        if (!error->contains(QLatin1String("em uso por outro programa")) ||
            waited.elapsed() >= qint64(seconds) * 1000)
            return false;
        QThread::msleep(200);
    }
}

} // namespace

int runEncode(const QStringList &args)
{
    QCommandLineParser p;
    p.addOption(kType);
    int type = 0;
    if (const auto stop = parseArgs(p, args, 1)) return *stop;
    if (!readType(p, &type)) return ExitUsage;
    // The text goes the way "transfere --texto" sends it, so that these
    // bytes are the frame's data after its "L", line ends and all.
    QString text = p.positionalArguments().constFirst();
    if (text == QLatin1String("-")) text = readTypedInput();
    printOut(frame::hexLine(encodeMessage(flattenMessage(plainMessage(text)), type)));
    return ExitOk;
}

int runFrame(const QStringList &args)
{
    QCommandLineParser p;
    p.addOption(kType);
    p.addOption(kAddress);
    int type = 0;
    QList<int> address = {0};
    if (const auto stop = parseArgs(p, args, 1)) return *stop;
    if (!readType(p, &type) || !readAddresses(p, false, &address)) return ExitUsage;
    const QByteArray field = cp1252::encode(p.positionalArguments().constFirst());
    printOut(
        frame::hexLine(frame::build(qint16(address.first()), frame::encodeDataField(field, type))));
    return ExitOk;
}

int runSend(const QString &command, const QStringList &args)
{
    QCommandLineParser p;
    const bool transfer = command == QLatin1String("transfere");
    const bool toPanels = command != QLatin1String("hora") && command != QLatin1String("data");
    for (const auto &o : {kFolder, kPort, kType, kUsb, kShow, kWait, kJson})
        p.addOption(o);
    p.addOption(kAddress);
    if (transfer) {
        p.addOption(kText);
        p.addOption(kStrict);
    }
    if (const auto stop = parseArgs(p, args, transfer ? -1 : 0)) return *stop;
    // The clock and the date go to every panel: an address would be ignored.
    if (!toPanels && p.isSet(kAddress))
        return usageError(
            QStringLiteral("--endereco não vale para %1: vai a todos os painéis").arg(command));
    const QStringList files = p.positionalArguments();
    if (transfer && (p.isSet(kText) ? !files.isEmpty() : files.size() != 1))
        return usageError(QStringLiteral("dê um ARQUIVO.msg, - (a entrada padrão) ou --texto"));
    SendSettings settings;
    if (!loadSendSettings(p, toPanels, &settings)) return ExitUsage;
    int waitSeconds = 0;
    if (p.isSet(kWait)) {
        const auto v = intOption(p.value(kWait), 0, 3600);
        if (!v) return usageError(QStringLiteral("--esperar deve ser um número de 0 a 3600"));
        waitSeconds = *v;
    }
    const Settings &s = settings.shared;

    // One reading of the clock serves the whole command.
    const QDateTime now = QDateTime::currentDateTime();
    QByteArray field;
    QList<int> addresses = settings.addresses;
    if (transfer) {
        RichText message;
        const std::optional<QString> typed = typedText(p, kText);
        const bool ok = typed ? messageFromText(*typed, message, &field)
                              : loadMessage(files.constFirst(), message, &field);
        if (!ok) return ExitUsage;
        // Whatever the panel would not get as it was written is said first.
        const QStringList differences = sendcheck::differences(message, s.panelType);
        for (const QString &d : differences)
            printError(QStringLiteral("aviso: ") + d);
        if (p.isSet(kStrict) && !differences.isEmpty()) {
            printError(QStringLiteral("--estrito: nada foi enviado"));
            return ExitUsage;
        }
    } else if (command == QLatin1String("hora")) {
        field = datafield::clock(now.time());
        addresses = {0};
    } else if (command == QLatin1String("data")) {
        field = datafield::date(now.date());
        addresses = {0};
    } else {
        const char letter = command == QLatin1String("inicia") ? 'I'
                            : command == QLatin1String("para") ? 'P'
                                                               : 'A';
        field = QByteArray(1, letter);
    }

    if (p.isSet(kShow)) {
        printOut(QStringLiteral("dados: ") + frame::hexLine(field));
        for (int address : addresses) {
            const QString label = addresses.size() == 1
                                      ? QStringLiteral("quadro: ")
                                      : QStringLiteral("quadro (endereço %1): ").arg(address);
            printOut(label + frame::hexLine(frame::build(
                                 qint16(address), frame::encodeDataField(field, s.panelType))));
        }
        return ExitOk;
    }

    // Said only to a person: a script's stderr stays as it was.
    if (!settings.portOrigin.isEmpty() && stderrIsTerminal())
        printError(QStringLiteral("envia pela ") + settings.portOrigin +
                   QStringLiteral("; para outra, --porta"));
    const std::unique_ptr<DeviceLine> line = DeviceLine::forDevice(settings.device);
    QString error;
    if (!openWaiting(*line, settings.device, waitSeconds, &error)) {
        if (!error.contains(settings.device))
            error = settings.device + QStringLiteral(": ") + error;
        printError(QStringLiteral("Porta de Comunicação não disponível!!! (%1)").arg(error));
        return ExitUsage;
    }
    LineTimebase time;
    time.setLine(line.get());
    ProgressLine progress(stderr);
    PanelLink link(*line, time, LinkOptions{s.panelType, s.usbAdapter != 0}, &progress);
    PanelCommands commands(link);
    // Panels one after the other, in the order given, each with its own line.
    bool allSucceeded = true;
    for (int address : addresses) {
        CommandOutcome outcome;
        if (transfer)
            outcome = commands.transfer(qint16(address), field);
        else if (command == QLatin1String("hora"))
            outcome = commands.setClock(now);
        else if (command == QLatin1String("data"))
            outcome = commands.setDate(now);
        else
            outcome = commands.letter(qint16(address), field.at(0));
        progress.end();
        if (p.isSet(kJson))
            printOut(jsonOutcome(address, outcome));
        else
            printOut(addresses.size() == 1
                         ? outcome.status
                         : QStringLiteral("endereço %1: %2").arg(address).arg(outcome.status));
        if (!outcome.succeeded && !outcome.reason.isEmpty())
            printError(QStringLiteral("%1 (porta %2)").arg(outcome.reason, settings.device));
        allSucceeded = allSucceeded && outcome.succeeded;
    }
    return allSucceeded ? ExitOk : ExitExchangeFailed;
}

int runListPorts(const QStringList &args)
{
    QCommandLineParser p;
    if (const auto stop = parseArgs(p, args, 0)) return *stop;
    const QStringList ports = portnames::systemPorts();
    for (int i = 0; i < ports.size(); ++i) {
#ifdef Q_OS_WIN
        // On Windows the number is the one in the name: COM3 is port 3.
        const QString number = QString(ports[i]).remove(QStringLiteral("COM"));
#else
        const QString number = QString::number(i + 1);
#endif
        printOut(number + QLatin1Char('\t') + ports[i]);
    }
    return ExitOk;
}
