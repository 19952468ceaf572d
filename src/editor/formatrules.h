#pragma once

#include "richtext.h"
#include "tagprotection.h"

#include <QVector>

// The colours of the toolbar, as the panel software has always stored them.
namespace colours
{
constexpr ColourRef kGreen = 0x00FF00;
constexpr ColourRef kRed = 0x0000FF;
constexpr ColourRef kOrange = 0x00FFFF; // red and green: shown yellow on screen
constexpr ColourRef kTagName = 0xC0C0C0;
} // namespace colours

struct ColourRun {
    qsizetype start;
    qsizetype length;
    ColourRef colour;
    friend bool operator==(const ColourRun &a, const ColourRun &b)
    {
        return a.start == b.start && a.length == b.length && a.colour == b.colour;
    }
};

namespace formatrules
{

// Which characters of a selection take a colour, in runs: tag names keep
// their grey. Consecutive characters of one colour form one run.
QVector<ColourRun> singleColour(const TagText &t, qsizetype start, qsizetype length,
                                ColourRef colour);
// Green, red, orange in turn over the characters that are not tag names.
// The brackets of tags and the spaces take part in the cycle.
QVector<ColourRun> rainbow(const TagText &t, qsizetype start, qsizetype length);

} // namespace formatrules

// Which tag commands the menus offer for a panel: the wide panels (30 and
// more than 30 characters) have effects of their own, and the temperature
// option shares its code with "Abre Direita".
// Which items of "&Prefixos", "&Sufixos" and "&Outros" show, item by item.
struct MenuVisibility {
    QVector<bool> prefixos, sufixos, outros;
};

MenuVisibility menuVisibility(int panelType, int temperatureOption);
