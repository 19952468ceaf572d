#pragma once

#include "richtext.h"

class QTextCursor;
class QTextDocument;

// Between the editor's QTextDocument and the rich-text model that the
// message files, the transfer and the simulation share. Sizes are kept in
// half points, which is all that a message file can hold.
namespace richtextdocument
{

RichText read(const QTextDocument &doc, qsizetype from = 0, qsizetype to = -1);
// Inserts at the cursor, replacing its selection.
void insert(QTextCursor &cursor, const RichText &text);
void replaceAll(QTextDocument &doc, const RichText &text);

} // namespace richtextdocument
