#include "sharedsettings.h"

namespace panelwidth
{
namespace
{

struct Width {
    int characters;
    int encoderWidth;
    const char *caption;
};

constexpr Width kWidths[kCodes] = {
    {12, 12, "12 Caracteres"}, {15, 15, "15 Caracteres"}, {30, 0, "30 Caracteres"},
    {5, 5, "5 Caracteres"},    {9, 9, "9 Caracteres"},    {6, 6, "6 Caracteres"},
    {0, 0, "> 30 Caracteres"}, {10, 10, "10 Caracteres"}, {7, 7, "7 Caracteres"},
};

bool valid(int panelType)
{
    return panelType >= 0 && panelType < kCodes;
}

} // namespace

int characters(int panelType)
{
    return valid(panelType) ? kWidths[panelType].characters : 0;
}

int encoderWidth(int panelType)
{
    return valid(panelType) ? kWidths[panelType].encoderWidth : 0;
}

QString caption(int panelType)
{
    return valid(panelType) ? QString::fromUtf8(kWidths[panelType].caption) : QString();
}

bool isWide(int panelType)
{
    return panelType == 2 || panelType == 6;
}

bool hasSimulation(int panelType)
{
    return panelType >= 0 && panelType <= 5;
}

} // namespace panelwidth
