#pragma once

#include "richtext.h"
#include "tagprotection.h"

#include <QTextEdit>

// The rich-text control of an editor window ("rtfText"). It keeps inserted
// effect tags whole: Backspace and Delete take a whole tag, Left and Right
// jump over one, the caret never rests inside one and selections hold whole
// tags. Enter and Tab are swallowed, so a message stays one line.
//
// Every way text comes in (the menu's paste, Ctrl+V, dropping) goes through
// the same paste: our own RTF markup keeps its formatting, tags included;
// anything else comes in plain, with the format of the insertion point and
// never underlined, so it can never forge a tag.
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
    void mouseReleaseEvent(QMouseEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    QMimeData *createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    bool handleTagKey(int key);
    void insertPlain(const QString &text);

    std::unique_ptr<TagText> m_tagText;
};
