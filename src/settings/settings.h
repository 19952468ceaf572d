#pragma once

#include "vocabulary.h"

#include <QString>
#include <QStringList>

// The values of the four settings files, as one value. The application
// owns it and hands it down read-only; run-time state lives in the objects
// it describes (the port's in the panel actions, the tip shown in the tips
// window).
struct Settings {
    static constexpr int kTipSlots = 102; // entries 1 to 100 hold tips; 0 and 101 stay empty
    static constexpr int kMaxTips = 100;

    qint16 portNumber = 0;
    qint16 panelAddress = 0;
    qint16 tipsHidden = 0;
    qint16 panelType = 0;
    qint16 temperatureOption = 0;
    QString accessPassword;
    qint16 usbAdapter = 0;
    QStringList tipTexts = QStringList(kTipSlots);
};

// Panel width codes, as stored in line 4 of "cobalto.cfg". Their order is
// part of the file format and is not sorted by width.
namespace panelwidth
{

constexpr int kCodes = vocabulary::kPanelTypes;

// Characters of the panel; 0 for "more than 30".
int characters(int panelType);
// The width the encoder counts after a prefix effect; 0 switches the rule off.
int encoderWidth(int panelType);
// The settings dialog's caption, such as "12 Caracteres".
QString caption(int panelType);
// The two wide panels (30 and more than 30) offer a different set of effects.
bool isWide(int panelType);
// Widths 5, 6, 9, 12, 15 and 30 can be simulated on screen.
bool hasSimulation(int panelType);

} // namespace panelwidth
