#include "messageedit.h"

#include "richtextdocument.h"
#include "rtfreader.h"
#include "rtfwriter.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>

const QString MessageEdit::kMimeType = QStringLiteral("application/x-letreiro-rtf");

namespace
{

// The document as the tag rules see it. A position's format is found
// through a cursor, which costs a tree look-up, not a walk of the line.
class DocumentTagText : public TagText
{
public:
    explicit DocumentTagText(const QTextDocument *doc) : m_doc(doc) {}
    qsizetype length() const override { return m_doc->characterCount() - 1; }
    QChar charAt(qsizetype pos) const override
    {
        return pos >= 0 && pos < length() ? m_doc->characterAt(int(pos)) : QChar();
    }
    bool isUnderlined(qsizetype pos) const override
    {
        if (pos < 0 || pos >= length() || charAt(pos) == QChar::ParagraphSeparator) return false;
        QTextCursor c(const_cast<QTextDocument *>(m_doc));
        c.setPosition(int(pos + 1));
        return c.charFormat().fontUnderline();
    }

private:
    const QTextDocument *m_doc;
};

bool isVertical(int key)
{
    return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp ||
           key == Qt::Key_PageDown;
}

Qt::KeyboardModifiers held(const QKeyEvent *e)
{
    Qt::KeyboardModifiers m = e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                Qt::AltModifier | Qt::MetaModifier);
    // Releasing a modifier key: it no longer counts as held.
    switch (e->key()) {
    case Qt::Key_Shift:
        m &= ~Qt::ShiftModifier;
        break;
    case Qt::Key_Control:
        m &= ~Qt::ControlModifier;
        break;
    case Qt::Key_Alt:
        m &= ~Qt::AltModifier;
        break;
    case Qt::Key_Meta:
        m &= ~Qt::MetaModifier;
        break;
    default:
        break;
    }
    return m;
}

} // namespace

MessageEdit::MessageEdit(QWidget *parent)
    : QTextEdit(parent), m_tagText(std::make_unique<DocumentTagText>(document()))
{
    setObjectName(QStringLiteral("rtfText"));
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(kFontSize);
    document()->setDefaultFont(font);
    setFont(font);
    setTextColor(QColor(255, 0, 0)); // what a new window gets typed in
    setAcceptRichText(true);
    setTabChangesFocus(false);
    setLineWrapMode(QTextEdit::FixedPixelWidth);
}

RichText MessageEdit::richText() const
{
    return richtextdocument::read(*document());
}

RichText MessageEdit::selectedRichText() const
{
    const QTextCursor c = textCursor();
    return richtextdocument::read(*document(), c.selectionStart(), c.selectionEnd());
}

void MessageEdit::setRichText(const RichText &text)
{
    richtextdocument::replaceAll(*document(), text);
    document()->clearUndoRedoStacks();
    document()->setModified(false);
    moveCursor(QTextCursor::Start);
}

void MessageEdit::insertRichText(const RichText &text)
{
    QTextCursor c = textCursor();
    richtextdocument::insert(c, text);
    setTextCursor(c);
}

QByteArray MessageEdit::selectionRtf() const
{
    return writeRtf(selectedRichText());
}

void MessageEdit::insertPlain(const QString &text)
{
    QTextCursor c = textCursor();
    QTextCharFormat f = currentCharFormat();
    f.setFontUnderline(false);
    c.beginEditBlock();
    c.removeSelectedText();
    c.insertText(text, f);
    c.endEditBlock();
    setTextCursor(c);
}

void MessageEdit::pasteText(const QString &text)
{
    if (looksLikeRtf(text.toLatin1())) {
        const RtfReadResult r = readRtf(text.toLatin1());
        if (r.ok) {
            insertRichText(r.text);
            return;
        }
    }
    insertPlain(text);
}

QMimeData *MessageEdit::createMimeDataFromSelection() const
{
    return selectionMimeData();
}

QMimeData *MessageEdit::selectionMimeData() const
{
    auto *mime = new QMimeData;
    const QByteArray rtf = selectionRtf();
    // As plain text too, so that copying between two running programs, or
    // through a plain-text clipboard, keeps the tags whole.
    mime->setText(QString::fromLatin1(rtf));
    mime->setData(kMimeType, rtf);
    mime->setData(QStringLiteral("text/rtf"), rtf);
    return mime;
}

bool MessageEdit::canInsertFromMimeData(const QMimeData *source) const
{
    return source->hasFormat(kMimeType) || source->hasText();
}

void MessageEdit::insertFromMimeData(const QMimeData *source)
{
    if (source->hasFormat(kMimeType)) {
        const RtfReadResult r = readRtf(source->data(kMimeType));
        if (r.ok) {
            insertRichText(r.text);
            return;
        }
    }
    if (source->hasText()) pasteText(source->text());
}

bool MessageEdit::handleTagKey(int key)
{
    QTextCursor c = textCursor();
    const bool selected = c.hasSelection();
    const qsizetype p = c.position();
    const qsizetype start = c.selectionStart();
    switch (key) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete: {
        // With a selection the control deletes it: it already holds whole tags.
        const auto r = selected                   ? std::nullopt
                       : key == Qt::Key_Backspace ? tagprotection::backspace(tagText(), p)
                                                  : tagprotection::deleteForward(tagText(), p);
        if (!r) return false;
        c.setPosition(int(r->start));
        c.setPosition(int(r->start + r->length), QTextCursor::KeepAnchor);
        c.removeSelectedText();
        setTextCursor(c);
        return true;
    }
    case Qt::Key_Left:
        if (const auto to = tagprotection::left(tagText(), selected ? start : p)) {
            c.setPosition(int(*to));
            setTextCursor(c);
            return true;
        }
        return false;
    case Qt::Key_Right: {
        const auto to = tagprotection::right(tagText(), start);
        if (to || selected) {
            c.setPosition(int(to ? *to : qMin<qsizetype>(start + 1, tagText().length())));
            setTextCursor(c);
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

void MessageEdit::keyPressEvent(QKeyEvent *e)
{
    const int key = e->key();
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Return ||
        key == Qt::Key_Enter) {
        e->accept(); // a message never gets a tab or a line break from the keyboard
        return;
    }
    if (held(e) == Qt::NoModifier && handleTagKey(key)) {
        e->accept();
        return;
    }
    // Typed text is never part of a tag name, even where the caret ended up
    // next to one (Ctrl+Left, Home on a wrapped line): underline is only ever
    // given by the tag commands.
    if (!e->text().isEmpty() && e->text().front().isPrint() && currentCharFormat().fontUnderline())
        setFontUnderline(false);
    QTextEdit::keyPressEvent(e);
}

void MessageEdit::keyReleaseEvent(QKeyEvent *e)
{
    QTextEdit::keyReleaseEvent(e);
    if (held(e) != Qt::NoModifier) return;
    if (textCursor().hasSelection())
        applySelectionRule();
    else if (isVertical(e->key()))
        applyCaretRule();
}

void MessageEdit::mouseReleaseEvent(QMouseEvent *e)
{
    QTextEdit::mouseReleaseEvent(e);
    if (textCursor().hasSelection())
        applySelectionRule();
    else
        applyCaretRule();
}

void MessageEdit::applyCaretRule()
{
    QTextCursor c = textCursor();
    const qsizetype to = tagprotection::caret(tagText(), c.position());
    if (to != c.position()) {
        c.setPosition(int(to));
        setTextCursor(c);
    }
}

void MessageEdit::applySelectionRule()
{
    QTextCursor c = textCursor();
    const TextRange sel{c.selectionStart(), c.selectionEnd() - c.selectionStart()};
    const TextRange to = tagprotection::selection(tagText(), sel);
    if (to == sel) return;
    c.setPosition(int(to.start));
    c.setPosition(int(to.start + to.length), QTextCursor::KeepAnchor);
    setTextCursor(c);
}

void MessageEdit::resizeEvent(QResizeEvent *e)
{
    QTextEdit::resizeEvent(e);
    // Lines wrap a little before the right edge (400 twips).
    setLineWrapColumnOrWidth(qMax(1, viewport()->width() - logicalDpiX() * 400 / 1440));
}
