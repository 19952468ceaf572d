#pragma once

#include "richtext.h"
#include "tagprotection.h"

#include <QTextEdit>

// The rich-text control of an editor window ("rtfText"). It keeps inserted
// effect tags whole on every path, in two places that every path passes:
//  - the cursor: whenever it moves (keys with or without modifiers, input
//    methods, undo, commands), it leaves a tag at the edge it travelled
//    towards, and a selection grows to hold whole tags; a click or a mouse
//    selection is settled when the button is let go (after the tag, or
//    trimmed to whole tags);
//  - the document: after every change, an underlined stretch that is not a
//    whole tag's name loses its underline, so nothing can pass for a tag.
// Insertions (typing, input-method commits, pastes, drops) go after a tag
// that their point lies in, and deletions take whole tags. Enter and Tab
// are swallowed, so a message stays one line.
//
// Every way text comes in (the menu's paste, Ctrl+V, dropping) goes through
// insertFromMimeData: our own markup keeps its formatting, tags included;
// RTF from other programs keeps an underline only on whole, known tag names;
// plain text comes in with the format of the insertion point, never
// underlined.
class MessageEdit : public QTextEdit
{
    Q_OBJECT
public:
    static constexpr double kFontSize = 20.25;
    // The clipboard form that only this program writes.
    static const QString kMimeType;

    explicit MessageEdit(QWidget *parent = nullptr);

    RichText richText() const;
    RichText selectedRichText() const;
    // Replaces the whole content; the document counts as unchanged after it.
    void setRichText(const RichText &text);
    // Replaces the selection.
    void insertRichText(const RichText &text);

    // The selection as RTF markup, as Copy puts it on the clipboard.
    QByteArray selectionRtf() const;
    // What Copy, Ctrl+C and dragging put on the clipboard.
    QMimeData *selectionMimeData() const;
    // Pastes text from the clipboard: RTF markup with its formatting, other
    // text plainly. Empty text deletes the selection.
    void pasteText(const QString &text);

    void applyCaretRule();
    void applySelectionRule();
    const TagText &tagText() const { return *m_tagText; }

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void keyReleaseEvent(QKeyEvent *e) override;
    void inputMethodEvent(QInputMethodEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    QMimeData *createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    bool handleTagKey(int key);
    bool handleWordDelete(QKeyEvent *e);
    void removeRange(TextRange range);
    void settleCursor();
    void settleMouse();
    void noteChange(int from, int removed, int added);
    void dropStrayUnderline();
    void stopTypingUnderline();

    std::unique_ptr<TagText> m_tagText;
    qsizetype m_lastPosition = 0;
    bool m_settling = false;
    bool m_mouseHeld = false;
    // The stretch changed since the document last settled, [from, to).
    qsizetype m_changedFrom = -1;
    qsizetype m_changedTo = -1;
};
