#include "settings.h"

#include "vocabulary.h"

// The panel types are the vocabulary's; these read its table.
namespace panelwidth
{

int characters(int panelType)
{
    const vocabulary::PanelType *t = vocabulary::panelType(panelType);
    return t ? t->characters : 0;
}

int encoderWidth(int panelType)
{
    const vocabulary::PanelType *t = vocabulary::panelType(panelType);
    return t ? t->encoderWidth : 0;
}

QString caption(int panelType)
{
    const vocabulary::PanelType *t = vocabulary::panelType(panelType);
    return t ? QString::fromUtf8(t->caption) : QString();
}

bool isWide(int panelType)
{
    const vocabulary::PanelType *t = vocabulary::panelType(panelType);
    return t && t->wide;
}

bool hasSimulation(int panelType)
{
    const vocabulary::PanelType *t = vocabulary::panelType(panelType);
    return t && t->simulated;
}

} // namespace panelwidth
