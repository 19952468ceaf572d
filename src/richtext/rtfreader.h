#pragma once

#include "richtext.h"

#include <QByteArray>
#include <QString>

struct RtfReadResult {
    bool ok = false;
    RichText text;
    // For the operator, in Portuguese, when ok is false.
    QString error;
};

// Reads a rich-text document in the form the Windows RichEdit control writes
// (and the wider RTF family: unknown control words are skipped). Never
// throws; bad input gives ok = false and a message. Memory stays linear in
// the size of the input, and nesting is bounded.
RtfReadResult readRtf(QByteArrayView data);

// True when the bytes start like an RTF document: what the editor's paste
// uses to tell its own markup from text of other programs.
bool looksLikeRtf(QByteArrayView data);
