#pragma once

#include "richtext.h"

#include <QByteArray>

// The message as the panel's load command carries it: one line of
// Windows-1252 bytes. Line breaks and tabs go; each expanded (bold)
// character that is not part of an inserted tag gets the marker 0xFE in
// front. A tag is known by the underline on its name.
QByteArray flattenMessage(const RichText &text);

// "L" followed by the flattened message.
QByteArray loadCommandField(const RichText &text);

// A message given as plain text ("--texto", a pipe, a web form), as it goes
// to the panel: the characters as they are, one trailing line end dropped.
RichText plainMessage(QString text);

// A message typed as plain text, tags by name ("Bom dia <Pisca______>!"):
// the names of known tags are underlined, as the editor marks an inserted
// tag, so that the simulation plays them; the rest stays as typed.
RichText typedMessage(const QString &text);
