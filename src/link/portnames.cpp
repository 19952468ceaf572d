#include "portnames.h"

#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSettings>

#include <algorithm>

namespace portnames
{
namespace
{

bool isUsb(const QString &name)
{
    return name.startsWith(QLatin1String("ttyUSB")) || name.startsWith(QLatin1String("ttyACM"));
}

// "ttyS10" after "ttyS2".
bool naturalLess(const QString &a, const QString &b)
{
    static const QRegularExpression tail(QStringLiteral("^(.*?)(\\d+)$"));
    const auto ma = tail.match(a), mb = tail.match(b);
    if (ma.hasMatch() && mb.hasMatch() && ma.captured(1) == mb.captured(1))
        return ma.captured(2).toLongLong() < mb.captured(2).toLongLong();
    return a < b;
}

} // namespace

QStringList ordered(QStringList names)
{
    std::stable_sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        if (isUsb(a) != isUsb(b)) return isUsb(a);
        return naturalLess(a, b);
    });
    return names;
}

QString fromOverrides(const QString &overrides, int n)
{
    const QString key = QStringLiteral("COM%1").arg(n);
    const auto entries =
        overrides.split(QRegularExpression(QStringLiteral("[;,]")), Qt::SkipEmptyParts);
    for (const QString &entry : entries) {
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        if (eq > 0 && entry.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return entry.mid(eq + 1).trimmed();
    }
    return {};
}

QStringList systemPorts()
{
    QStringList names;
    QHash<QString, QString> locations;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        names.append(info.portName());
        locations.insert(info.portName(), info.systemLocation());
    }
    QStringList out;
    for (const QString &n : ordered(names))
        out.append(locations.value(n));
    return out;
}

QString resolve(int n)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    QString env = fromOverrides(qEnvironmentVariable("LETREIRO_PORTAS"), n);
    if (!env.isEmpty()) return env;
    QSettings store(QStringLiteral("Letreiro"), QStringLiteral("Letreiro"));
    QString stored = store.value(QStringLiteral("Portas/COM%1").arg(n)).toString();
    if (!stored.isEmpty()) return stored;
    const QStringList ports = systemPorts();
    return n >= 1 && n <= ports.size() ? ports[n - 1] : QString();
#endif
}

} // namespace portnames
