#include "editcommands.h"

#include "formatrules.h"
#include "messageedit.h"
#include "vocabulary.h"

#include <QClipboard>
#include <QTextDocument>

namespace editcommands
{
namespace
{

QColor toQColor(ColourRef c)
{
    return QColor(colourRed(c), colourGreen(c), colourBlue(c));
}

// Runs are planned on a copy of the selection, so they count from its start.
void applyRuns(MessageEdit &edit, int offset, const QVector<ColourRun> &runs)
{
    QTextCursor c(edit.document());
    c.beginEditBlock();
    for (const ColourRun &r : runs) {
        c.setPosition(offset + int(r.start));
        c.setPosition(offset + int(r.start + r.length), QTextCursor::KeepAnchor);
        QTextCharFormat f;
        f.setForeground(toQColor(r.colour));
        c.mergeCharFormat(f);
    }
    c.endEditBlock();
}

} // namespace

void insertTag(MessageEdit &edit, const QString &tag)
{
    QTextCursor c = edit.textCursor();
    const int s = c.selectionStart();
    QTextCharFormat f = edit.currentCharFormat();
    // An empty document would otherwise lose the colour that was current.
    f.setFontUnderline(false);
    c.beginEditBlock();
    c.removeSelectedText();
    c.insertText(tag, f);
    if (tag.size() == vocabulary::kTagLength) {
        QTextCharFormat name;
        name.setForeground(toQColor(colours::kTagName));
        name.setFontUnderline(true);
        c.setPosition(s + 1);
        c.setPosition(s + 1 + vocabulary::kNameLength, QTextCursor::KeepAnchor);
        c.mergeCharFormat(name);
        c.setPosition(s + vocabulary::kTagLength);
    }
    c.endEditBlock();
    edit.setTextCursor(c);
    edit.setFocus();
}

void colour(MessageEdit &edit, ColourRef colour)
{
    const QTextCursor c = edit.textCursor();
    if (!c.hasSelection()) {
        edit.setTextColor(toQColor(colour));
        return;
    }
    const RichText selection = edit.selectedRichText();
    applyRuns(edit, c.selectionStart(),
              formatrules::singleColour(RichTextTagText(selection), 0, selection.size(), colour));
    edit.setTextCursor(c);
}

void rainbow(MessageEdit &edit)
{
    const QTextCursor c = edit.textCursor();
    // Without a selection, what is typed next starts the rainbow.
    if (!c.hasSelection()) return edit.setTextColor(toQColor(colours::kGreen));
    const RichText selection = edit.selectedRichText();
    applyRuns(edit, c.selectionStart(),
              formatrules::rainbow(RichTextTagText(selection), 0, selection.size()));
    edit.setTextCursor(c);
}

void setExpanded(MessageEdit &edit, bool expanded)
{
    edit.setFontWeight(expanded ? QFont::Bold : QFont::Normal);
}

void copy(MessageEdit &edit, QClipboard &clipboard)
{
    if (!edit.textCursor().hasSelection()) return;
    clipboard.setMimeData(edit.selectionMimeData());
}

void cut(MessageEdit &edit, QClipboard &clipboard)
{
    if (!edit.textCursor().hasSelection()) return;
    copy(edit, clipboard);
    edit.textCursor().removeSelectedText();
}

void paste(MessageEdit &edit, const QClipboard &clipboard)
{
    edit.pasteText(clipboard.text());
}

} // namespace editcommands
