#include "simwidth.h"

#include "settings.h"

namespace simwidth
{
namespace
{

QString spaces(int n)
{
    return QString(n, QLatin1Char(' '));
}

QString two(int v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

QString date(const QDate &d, bool longYear)
{
    return two(d.day()) + QLatin1Char('/') + two(d.month()) + QLatin1Char('/') +
           (longYear ? QString::number(d.year()).rightJustified(4, QLatin1Char('0'))
                     : two(d.year() % 100));
}

QString clock(const QTime &t, bool seconds)
{
    QString s = two(t.hour()) + QLatin1Char(':') + two(t.minute());
    if (seconds) s += QLatin1Char(':') + two(t.second());
    return s;
}

const QString kTemperature = QStringLiteral("21°C");

} // namespace

bool isSupported(int width)
{
    switch (width) {
    case 5:
    case 6:
    case 9:
    case 12:
    case 15:
    case 30:
        return true;
    default:
        return false;
    }
}

double characterSize(int width)
{
    return width == 30 ? 24.0 : 44.0;
}

bool playsLive(int width, Live kind)
{
    if (!isSupported(width)) return false;
    if (kind == Live::Date) return width != 5;
    if (kind == Live::Temperature) return width != 12;
    return true;
}

QString liveText(int width, Live kind, const QDateTime &now, const QLocale &locale)
{
    const QDate d = now.date();
    const QTime t = now.time();
    switch (kind) {
    case Live::Date:
        switch (width) {
        case 6:
            return two(d.day()) + QLatin1Char(' ') +
                   locale.monthName(d.month(), QLocale::ShortFormat).left(3);
        case 9:
            return QLatin1Char(' ') + date(d, false);
        case 12:
            return QLatin1Char(' ') + date(d, true) + QLatin1Char(' ');
        case 15:
            return spaces(2) + date(d, true) + spaces(3);
        case 30:
            return spaces(10) + date(d, true) + spaces(10);
        }
        break;
    case Live::Clock:
        switch (width) {
        case 5:
        case 6:
            return clock(t, false);
        case 9:
            return QLatin1Char(' ') + clock(t, true);
        case 12:
            return spaces(3) + clock(t, false) + spaces(4);
        case 15:
            return spaces(3) + clock(t, true) + spaces(4);
        case 30:
            return spaces(11) + clock(t, true) + spaces(11);
        }
        break;
    case Live::Temperature:
        switch (width) {
        case 5:
            return QLatin1Char(' ') + kTemperature;
        case 6:
            return spaces(2) + kTemperature + spaces(1); // one longer than the panel
        case 9:
            return spaces(2) + kTemperature + spaces(3);
        case 15:
            return spaces(5) + kTemperature + spaces(6);
        case 30:
            return spaces(13) + kTemperature + spaces(13);
        }
        break;
    }
    return {};
}

int forPanelType(int panelType)
{
    return panelwidth::hasSimulation(panelType) ? panelwidth::characters(panelType) : 0;
}

} // namespace simwidth
