#include "windowplacement.h"

#include <QSettings>
#include <QWidget>

namespace windowplacement
{
namespace
{

int read(QSettings &s, const char *key, int fallback)
{
    bool ok = false;
    const int v = s.value(QLatin1String(key)).toString().toInt(&ok);
    return ok ? v : fallback;
}

} // namespace

int twipsToPixels(int twips, int dpi)
{
    return int(qint64(twips) * dpi / 1440);
}

int pixelsToTwips(int pixels, int dpi)
{
    return int(qint64(pixels) * 1440 / dpi);
}

void restore(QWidget &w, int firstStartWidth)
{
    QSettings s(QStringLiteral("Letreiro"), QStringLiteral("Letreiro"));
    s.beginGroup(QStringLiteral("Settings"));
    const int dx = w.logicalDpiX(), dy = w.logicalDpiY();
    w.move(twipsToPixels(read(s, "MainLeft", kDefaultLeft), dx),
           twipsToPixels(read(s, "MainTop", kDefaultTop), dy));
    int width = twipsToPixels(read(s, "MainWidth", kDefaultWidth), dx);
    if (!s.contains(QStringLiteral("MainWidth"))) width = qMax(width, firstStartWidth);
    w.resize(qMax(width, w.minimumWidth()),
             twipsToPixels(read(s, "MainHeight", kDefaultHeight), dy));
}

void store(const QWidget &w)
{
    QSettings s(QStringLiteral("Letreiro"), QStringLiteral("Letreiro"));
    s.beginGroup(QStringLiteral("Settings"));
    const int dx = w.logicalDpiX(), dy = w.logicalDpiY();
    s.setValue(QStringLiteral("MainLeft"), QString::number(pixelsToTwips(w.x(), dx)));
    s.setValue(QStringLiteral("MainTop"), QString::number(pixelsToTwips(w.y(), dy)));
    s.setValue(QStringLiteral("MainWidth"), QString::number(pixelsToTwips(w.width(), dx)));
    s.setValue(QStringLiteral("MainHeight"), QString::number(pixelsToTwips(w.height(), dy)));
}

} // namespace windowplacement
