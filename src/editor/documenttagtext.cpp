#include "documenttagtext.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

qsizetype DocumentTagText::length() const
{
    return m_doc->characterCount() - 1;
}

QChar DocumentTagText::charAt(qsizetype pos) const
{
    return pos >= 0 && pos < length() ? m_doc->characterAt(int(pos)) : QChar();
}

bool DocumentTagText::isUnderlined(qsizetype pos) const
{
    if (pos < 0 || pos >= length() || charAt(pos) == QChar::ParagraphSeparator) return false;
    QTextCursor c(const_cast<QTextDocument *>(m_doc));
    c.setPosition(int(pos + 1));
    return c.charFormat().fontUnderline();
}

QVector<TextRange> DocumentTagText::underlinedRuns(qsizetype from, qsizetype to) const
{
    // A block's fragments can only be walked from its start: for the few
    // characters around a key press, looking at each is cheaper.
    if (to - from <= 256) return TagText::underlinedRuns(from, to);
    const qsizetype n = length();
    from = qBound<qsizetype>(0, from, n);
    to = qBound<qsizetype>(from, to, n);
    QVector<TextRange> runs;
    for (QTextBlock b = m_doc->findBlock(int(from)); b.isValid() && b.position() <= to;
         b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            const qsizetype start = f.position(), end = start + f.length();
            if (end <= from || start > to || !f.charFormat().fontUnderline()) continue;
            if (!runs.isEmpty() && runs.last().start + runs.last().length == start)
                runs.last().length += f.length();
            else
                runs.append({start, f.length()});
        }
    }
    // A run cut by the ends of the scan is taken whole.
    if (!runs.isEmpty()) {
        TextRange &first = runs.first();
        while (first.start > 0 && isUnderlined(first.start - 1)) {
            --first.start;
            ++first.length;
        }
        TextRange &last = runs.last();
        while (last.start + last.length < n && isUnderlined(last.start + last.length))
            ++last.length;
    }
    return runs;
}
