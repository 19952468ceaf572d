#include "sendsettings.h"

#include "addresslist.h"
#include "cliargs.h"
#include "portnames.h"
#include "settingsfiles.h"
#include "settingsfolder.h"

#include <QDir>
#include <QFileInfo>

namespace sendoptions
{
const QCommandLineOption kType(QStringLiteral("tipo"), QString(), QStringLiteral("N"));
const QCommandLineOption kAddress(QStringLiteral("endereco"), QString(), QStringLiteral("A"));
const QCommandLineOption kFolder(QStringLiteral("pasta"), QString(), QStringLiteral("DIR"));
const QCommandLineOption kPort(QStringLiteral("porta"), QString(), QStringLiteral("P"));
const QCommandLineOption kUsb(QStringLiteral("usb"), QString(), QStringLiteral("0|1"));
const QCommandLineOption kShow(QStringLiteral("mostrar"));
const QCommandLineOption kText(QStringLiteral("texto"), QString(), QStringLiteral("TEXTO"));
const QCommandLineOption kWait(QStringLiteral("esperar"), QString(), QStringLiteral("S"));
const QCommandLineOption kJson(QStringLiteral("json"));
const QCommandLineOption kStrict(QStringLiteral("estrito"));
} // namespace sendoptions

using namespace sendoptions;

namespace
{

// Why a settings folder cannot be read, or nothing when it can.
QString folderProblem(const QString &folder)
{
    const QFileInfo info(folder);
    const QString name = QDir::toNativeSeparators(folder);
    if (!info.exists()) return QStringLiteral("a pasta %1 não existe").arg(name);
    if (!info.isDir()) return QStringLiteral("%1 não é uma pasta").arg(name);
    if (!info.isReadable() || !info.isExecutable())
        return QStringLiteral("sem permissão para ler a pasta %1").arg(name);
    return {};
}

} // namespace

bool readType(const QCommandLineParser &p, int *type)
{
    if (!p.isSet(kType)) return true;
    const auto v = intOption(p.value(kType), 0, 8);
    if (!v) {
        usageError(QStringLiteral("--tipo deve ser um número de 0 a 8"));
        return false;
    }
    *type = *v;
    return true;
}

bool readAddresses(const QCommandLineParser &p, bool listAllowed, QList<int> *addresses)
{
    if (!p.isSet(kAddress)) return true;
    const auto list = parseAddressList(p.value(kAddress), 0, 31);
    if (!list || (!listAllowed && list->size() != 1)) {
        usageError(listAllowed
                       ? QStringLiteral("--endereco deve ser de 0 a 31, ou uma lista como 1,3,5-7")
                       : QStringLiteral("--endereco deve ser um número de 0 a 31"));
        return false;
    }
    // A panel named twice would get its command twice, and 0 in a list
    // would reach every panel and then some of them again.
    for (int i = 0; i < list->size(); ++i) {
        if (list->indexOf(list->at(i)) != i) {
            usageError(QStringLiteral("--endereco: o endereço %1 está repetido").arg(list->at(i)));
            return false;
        }
    }
    if (list->size() > 1 && list->contains(0)) {
        usageError(QStringLiteral("--endereco: 0 (todos os painéis) vale só sozinho"));
        return false;
    }
    *addresses = *list;
    return true;
}

bool loadSendSettings(const QCommandLineParser &p, bool listAllowed, SendSettings *out)
{
    Settings &s = out->shared;
    s.portNumber = 1; // the values of a first start, for files not yet written
    const QString folder = p.isSet(kFolder) ? p.value(kFolder) : defaultSettingsFolder();
    // A folder named by hand must be there: a typing error must not send
    // the first-start address 0, every panel, to the line.
    if (p.isSet(kFolder)) {
        if (const QString why = folderProblem(folder); !why.isEmpty()) {
            printError(QStringLiteral("--pasta: ") + why);
            return false;
        }
    }
    const SettingsFiles files(folder);
    QString error, addressProblem, portProblem;
    if (!files.loadConfig(s, SettingsFiles::Missing::Skip, nullptr, &error, &addressProblem,
                          &portProblem) ||
        !files.loadUsbAdapter(s, SettingsFiles::Missing::Skip, &error)) {
        printError(error);
        return false;
    }
    int type = s.panelType;
    out->addresses = {s.panelAddress};
    if (!readType(p, &type) || !readAddresses(p, listAllowed, &out->addresses)) return false;
    // An address from the file that cannot be right is never sent to anybody;
    // without the file there is no address to send to (a service account
    // that never ran the desktop program).
    if (listAllowed && !p.isSet(kAddress) && !p.isSet(kShow)) {
        if (!addressProblem.isEmpty()) {
            printError(addressProblem);
            return false;
        }
        if (!QFileInfo::exists(files.path(settingsfiles::kConfigFile))) {
            printError(QStringLiteral("não há %1: dê o painel com --endereco ou a "
                                      "pasta das configurações com --pasta")
                           .arg(QDir::toNativeSeparators(files.path(settingsfiles::kConfigFile))));
            return false;
        }
    }
    if (!p.isSet(kPort) && !portProblem.isEmpty()) {
        printError(portProblem);
        return false;
    }
    s.panelType = qint16(type);
    if (p.isSet(kUsb)) {
        const auto v = intOption(p.value(kUsb), 0, 1);
        if (!v) {
            usageError(QStringLiteral("--usb deve ser 0 ou 1"));
            return false;
        }
        s.usbAdapter = qint16(*v);
    }
    // A dry run shows the bytes; it needs no port.
    if (p.isSet(kShow)) return true;
    QString port = p.isSet(kPort) ? p.value(kPort) : QString::number(s.portNumber);
    bool isNumber = false;
    const int n = port.toInt(&isNumber);
    if (isNumber) {
        s.portNumber = qint16(n);
        port = portnames::resolve(n);
        if (port.isEmpty()) {
            printError(QStringLiteral("Porta de Comunicação não disponível!!! "
                                      "(não há porta serial número %1)")
                           .arg(n));
            return false;
        }
    }
    out->device = port;
    if (!p.isSet(kPort)) {
        const QString file = QDir::toNativeSeparators(files.path(settingsfiles::kConfigFile));
        out->portOrigin =
            QStringLiteral("porta %1 (%2), %3")
                .arg(s.portNumber)
                .arg(port)
                .arg(QFileInfo::exists(files.path(settingsfiles::kConfigFile))
                         ? QStringLiteral("das configurações em %1").arg(file)
                         : QStringLiteral("a de um primeiro início (não há %1)").arg(file));
    }
    return true;
}
