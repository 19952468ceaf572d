#include "formatrules.h"

#include "settings.h"

namespace formatrules
{
namespace
{

template <typename ColourOf>
QVector<ColourRun> runs(const TagText &t, qsizetype start, qsizetype length, ColourOf colourOf)
{
    QVector<ColourRun> out;
    const qsizetype end = qMin(start + length, t.length());
    for (qsizetype i = qMax<qsizetype>(0, start); i < end; ++i) {
        if (t.isUnderlined(i)) continue;
        const ColourRef c = colourOf();
        if (!out.isEmpty() && out.back().colour == c && out.back().start + out.back().length == i)
            ++out.back().length;
        else
            out.append({i, 1, c});
    }
    return out;
}

} // namespace

QVector<ColourRun> singleColour(const TagText &t, qsizetype start, qsizetype length,
                                ColourRef colour)
{
    return runs(t, start, length, [colour] { return colour; });
}

QVector<ColourRun> rainbow(const TagText &t, qsizetype start, qsizetype length)
{
    static const ColourRef cycle[3] = {colours::kGreen, colours::kRed, colours::kOrange};
    int k = 0;
    return runs(t, start, length, [&k] { return cycle[k++ % 3]; });
}

} // namespace formatrules

MenuVisibility menuVisibility(int panelType, int temperatureOption)
{
    MenuVisibility v;
    const bool wide = panelwidth::isWide(panelType), sensor = temperatureOption == 1;
    const auto shown = [&](vocabulary::Menu menu) {
        QVector<bool> out;
        for (const vocabulary::Tag &t : vocabulary::menu(menu))
            out.append(t.showsOn(wide, sensor));
        return out;
    };
    v.prefixos = shown(vocabulary::Menu::Prefixos);
    v.sufixos = shown(vocabulary::Menu::Sufixos);
    v.outros = shown(vocabulary::Menu::Outros);
    return v;
}
