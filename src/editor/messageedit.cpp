#include "messageedit.h"

#include "documenttagtext.h"
#include "richtextdocument.h"
#include "tagguard.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTextBlock>

namespace
{

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
    m_insertionFormat = currentCharFormat();
    // Emptied (Ctrl+A, Delete), the text is typed on in the format of what
    // was there, as the rich-text control the files come from does, not in
    // Qt's default black (which the single-colour panel shows, and which
    // the preview would draw as unlit dots).
    connect(this, &QTextEdit::currentCharFormatChanged, this, [this](const QTextCharFormat &f) {
        if (!document()->isEmpty()) m_insertionFormat = f;
    });
    connect(document(), &QTextDocument::contentsChanged, this, [this] {
        if (!document()->isEmpty()) return;
        QTextCharFormat f = m_insertionFormat;
        f.setFontUnderline(false);
        if (currentCharFormat() != f) setCurrentCharFormat(f);
    });
    setAcceptRichText(true);
    setTabChangesFocus(false);
    setLineWrapMode(QTextEdit::FixedPixelWidth);
    m_guard = new TagGuard(*this, *m_tagText);
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
        removeRange(*r);
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

void MessageEdit::removeRange(TextRange range)
{
    QTextCursor c = textCursor();
    c.setPosition(int(range.start));
    c.setPosition(int(range.start + range.length), QTextCursor::KeepAnchor);
    c.removeSelectedText();
    setTextCursor(c);
}

// Ctrl+Backspace, Ctrl+Delete and their kin delete what the control would,
// grown to whole tags; next to a tag they take the tag, as Backspace and
// Delete do.
bool MessageEdit::handleWordDelete(QKeyEvent *e)
{
    QTextCursor::MoveOperation move;
    if (e->matches(QKeySequence::DeleteStartOfWord))
        move = QTextCursor::PreviousWord;
    else if (e->matches(QKeySequence::DeleteEndOfWord))
        move = QTextCursor::NextWord;
    else if (e->matches(QKeySequence::DeleteEndOfLine))
        move = QTextCursor::EndOfBlock;
    else
        return false;
    QTextCursor c = textCursor();
    TextRange range{c.selectionStart(), c.selectionEnd() - c.selectionStart()};
    if (!c.hasSelection()) {
        const qsizetype p = c.position();
        std::optional<TextRange> tag = move == QTextCursor::PreviousWord
                                           ? tagprotection::backspace(tagText(), p)
                                           : tagprotection::deleteForward(tagText(), p);
        if (!tag) {
            c.movePosition(move, QTextCursor::KeepAnchor);
            tag = TextRange{c.selectionStart(), c.selectionEnd() - c.selectionStart()};
        }
        range = *tag;
    }
    removeRange(tagprotection::wholeTags(tagText(), range));
    return true;
}

void MessageEdit::keyPressEvent(QKeyEvent *e)
{
    settleMouse();
    const int key = e->key();
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Return ||
        key == Qt::Key_Enter) {
        e->accept(); // a message never gets a tab or a line break from the keyboard
        return;
    }
    // Shift+Backspace is Backspace to the control; it takes a tag whole too.
    const Qt::KeyboardModifiers mods = held(e);
    const bool plainKey =
        mods == Qt::NoModifier || (mods == Qt::ShiftModifier && key == Qt::Key_Backspace);
    if ((plainKey && handleTagKey(key)) || handleWordDelete(e)) {
        e->accept();
        return;
    }
    QTextEdit::keyPressEvent(e);
}

void MessageEdit::inputMethodEvent(QInputMethodEvent *e)
{
    settleMouse();
    // An input method may replace text around the caret; that never takes
    // part of a tag.
    const qsizetype p = textCursor().position();
    const TextRange asked{p + e->replacementStart(), e->replacementLength()};
    const TextRange whole = tagprotection::wholeTags(tagText(), asked);
    if (whole == asked) {
        QTextEdit::inputMethodEvent(e);
        return;
    }
    QInputMethodEvent grown(e->preeditString(), e->attributes());
    grown.setCommitString(e->commitString(), int(whole.start - p), int(whole.length));
    QTextEdit::inputMethodEvent(&grown);
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

void MessageEdit::mousePressEvent(QMouseEvent *e)
{
    // The caret follows the mouse freely until the button is let go.
    m_guard->setMouseHeld(true);
    QTextEdit::mousePressEvent(e);
}

void MessageEdit::mouseDoubleClickEvent(QMouseEvent *e)
{
    m_guard->setMouseHeld(true);
    QTextEdit::mouseDoubleClickEvent(e);
}

void MessageEdit::mouseReleaseEvent(QMouseEvent *e)
{
    QTextEdit::mouseReleaseEvent(e);
    m_guard->setMouseHeld(false);
    applyClickRules();
}

void MessageEdit::focusOutEvent(QFocusEvent *e)
{
    settleMouse();
    QTextEdit::focusOutEvent(e);
}

// A press whose release never came here (a drag, a menu opened meanwhile)
// is settled as a click before anything else acts on the text.
void MessageEdit::settleMouse()
{
    if (!m_guard->mouseHeld()) return;
    m_guard->setMouseHeld(false);
    applyClickRules();
}

// What a click leaves: a caret after the tag it fell in, or a selection
// trimmed to whole tags.
void MessageEdit::applyClickRules()
{
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
