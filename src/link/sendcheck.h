#pragma once

#include "richtext.h"

#include <QStringList>

// What the panel will receive that differs from what was written: the
// operator or the script is told before anything is sent, one line each.
namespace sendcheck
{

// Characters the code page has no byte for (sent as "?"), tag-shaped names
// the panel does not know (dropped), characters whose byte the panel reads
// as an effect ("°" is <Pausa______>'s code), and a message whose encoding
// is longer than one frame carries (cut).
QStringList differences(const RichText &text, int panelType);

} // namespace sendcheck
