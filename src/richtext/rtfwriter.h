#pragma once

#include "richtext.h"

#include <QByteArray>

struct RtfWriteOptions {
    QString fontName = QStringLiteral("Courier New");
};

// Writes the message as the Windows RichEdit control writes it: one font,
// a colour table, and the character formatting switched where it changes.
// Ends with the paragraph mark that RichEdit writes after the last line.
QByteArray writeRtf(const RichText &text, const RtfWriteOptions &options = {});
