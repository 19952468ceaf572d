// The message editor's clipboard and drops: what Copy and a drag carry, and
// how a paste or a drop lands (never inside a tag, foreign markup cleaned).
#include "messageedit.h"

#include "richtextdocument.h"
#include "rtfreader.h"
#include "rtfwriter.h"

#include <QMimeData>
#include <QUrl>

const QString MessageEdit::kMimeType = QStringLiteral("application/x-letreiro-rtf");

QByteArray MessageEdit::selectionRtf() const
{
    return writeRtf(selectedRichText());
}

void MessageEdit::pasteText(const QString &text)
{
    QMimeData mime;
    mime.setText(text);
    insertFromMimeData(&mime);
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

QStringList MessageEdit::messageFiles(const QMimeData *source)
{
    QStringList files;
    if (!source || !source->hasUrls()) return files;
    for (const QUrl &url : source->urls()) {
        if (!url.isLocalFile() ||
            !url.toLocalFile().endsWith(QLatin1String(".msg"), Qt::CaseInsensitive))
            return {};
        files.append(url.toLocalFile());
    }
    return files;
}

bool MessageEdit::canInsertFromMimeData(const QMimeData *source) const
{
    // Message files dropped here are opened by the main window, not
    // pasted as their names.
    if (!messageFiles(source).isEmpty()) return false;
    return source->hasFormat(kMimeType) || source->hasText();
}

void MessageEdit::insertFromMimeData(const QMimeData *source)
{
    settleMouse();
    std::optional<RichText> rich;
    if (source->hasFormat(kMimeType)) {
        RtfReadResult r = readRtf(source->data(kMimeType));
        if (r.ok) rich = std::move(r.text);
    }
    if (!rich && source->hasText()) {
        const QByteArray bytes = source->text().toLatin1();
        if (looksLikeRtf(bytes)) {
            RtfReadResult r = readRtf(bytes);
            if (r.ok) {
                tagprotection::normaliseForeign(r.text);
                rich = std::move(r.text);
            }
        }
    }
    if (!rich && !source->hasText()) return;

    // A drop or paste never lands inside a tag, and what it replaces is
    // whole tags.
    QTextCursor c = textCursor();
    const TextRange target =
        c.hasSelection()
            ? tagprotection::wholeTags(tagText(),
                                       {c.selectionStart(), c.selectionEnd() - c.selectionStart()})
            : TextRange{tagprotection::insertionPoint(tagText(), c.position()), 0};
    c.beginEditBlock();
    c.setPosition(int(target.start));
    c.setPosition(int(target.start + target.length), QTextCursor::KeepAnchor);
    c.removeSelectedText();
    if (rich) {
        richtextdocument::insert(c, *rich);
    } else {
        QTextCharFormat f = c.charFormat();
        f.setFontUnderline(false);
        c.insertText(source->text(), f);
    }
    c.endEditBlock();
    setTextCursor(c);
}
