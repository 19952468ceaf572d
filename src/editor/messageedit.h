#pragma once

#include "richtext.h"
#include "tagprotection.h"

#include <QTextEdit>

class TagGuard;

// The rich-text control of an editor window ("rtfText"). It keeps inserted
// effect tags whole on every path: its TagGuard settles the cursor out of
// tags wherever it moved and drops stray underline after every change; a
// click or a mouse selection is settled when the button is let go (after
// the tag, or trimmed to whole tags). Insertions (typing, input-method
// commits, pastes, drops) go after a tag that their point lies in, and
// deletions take whole tags. Enter and Tab are swallowed, so a message
// stays one line.
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

    // The selection as RTF markup, as Copy puts it on the clipboard.
    QByteArray selectionRtf() const;
    // What Copy, Ctrl+C and dragging put on the clipboard.
    QMimeData *selectionMimeData() const;
    // Pastes text from the clipboard: RTF markup with its formatting, other
    // text plainly. Empty text deletes the selection.
    void pasteText(const QString &text);

    // The local message files a drop carries (all of it, or nothing).
    static QStringList messageFiles(const QMimeData *source);

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
    void settleMouse();
    void applyClickRules();

    QTextCharFormat m_insertionFormat;
    std::unique_ptr<TagText> m_tagText;
    TagGuard *m_guard;
};
