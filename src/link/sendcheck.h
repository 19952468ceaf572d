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

// How much of one send a message takes: its load command encoded (the
// command's letter included, before any cut) against the most one frame
// carries. The one measure the desktop's status bar, the page and the API
// show ("1.234 / 7.500").
struct Size {
    qsizetype used = 0;
    qsizetype limit = 0;
};
Size size(const RichText &text, int panelType);

// The load command as it goes on the wire, and read back.
struct Received {
    QByteArray data;     // encoded, cut to what one frame carries
    QString text;        // the data read back: tags by name, as the emulator prints it
    qsizetype used = 0;  // size(): the encoded bytes, before the cut
    qsizetype limit = 0; // size(): the most one frame carries
};
Received received(const RichText &text, int panelType);

} // namespace sendcheck
