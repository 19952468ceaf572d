#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// What differs between the simulated panel widths: 5, 6, 9, 12, 15 and 30
// characters. Panels of 7, 10 and more than 30 characters have no simulation.
namespace simwidth
{

enum class Live { Date, Clock, Temperature };

bool isSupported(int width);
// The character size of the view: 44 points, 24 for the 30-character panel.
double characterSize(int width);
// Whether the width plays a live tag at all.
bool playsLive(int width, Live kind);
// The live text for a date and time, as the panel of that width shows it.
// The month name is the locale's abbreviation, cut to three characters.
QString liveText(int width, Live kind, const QDateTime &now, const QLocale &locale);
// The simulation window's width for a panel type code, or 0 for none.
int forPanelType(int panelType);

} // namespace simwidth
