#pragma once

#include "richtext.h"

class MessageEdit;
class QClipboard;

// The commands that write into the active editor: tags, colours, character
// size and the clipboard. Each is one undo step.
namespace editcommands
{

// Replaces the selection with the tag: brackets in the colour at the caret,
// the name grey and underlined, the caret after the tag.
void insertTag(MessageEdit &edit, const QString &tag);
// With a selection, colours it, leaving tag names grey; without one, sets
// the colour of what is typed next. The selection stays as it was.
void colour(MessageEdit &edit, ColourRef colour);
// Green, red, orange in turn (green for what is typed next).
void rainbow(MessageEdit &edit);
// "&Expandido" and "&Normal": bold on or off, tags included.
void setExpanded(MessageEdit &edit, bool expanded);

// The selection's RTF markup goes on the clipboard as plain text.
void copy(MessageEdit &edit, QClipboard &clipboard);
void cut(MessageEdit &edit, QClipboard &clipboard);
void paste(MessageEdit &edit, const QClipboard &clipboard);

} // namespace editcommands
