#pragma once

#include "richtext.h"

#include <QByteArray>
#include <QStringList>

// What the panel will receive that differs from what was written: the
// operator or the script is told before anything is sent, one line each.
// The CLI, the service's API and its page all say it in these words.
namespace sendcheck
{

// Characters the code page has no byte for (sent as "?"), line breaks and
// tabs between words (dropped), tag-shaped names the panel does not know
// (dropped), characters whose byte the panel reads as an effect ("°" is
// <Pausa______>'s code), and a message whose encoding is longer than one
// frame carries (cut, at so many characters).
QStringList differences(const RichText &text, int panelType);

// The load command as it goes on the wire, and read back.
struct Received {
    QByteArray data;     // encoded, cut to what one frame carries
    QString text;        // the data read back: tags by name, as the emulator prints it
    qsizetype used = 0;  // the panel's characters taken (one per tag)
    qsizetype limit = 0; // the most one frame carries
};
Received received(const RichText &text, int panelType);

} // namespace sendcheck
