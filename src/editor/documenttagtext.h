#pragma once

#include "tagprotection.h"

class QTextDocument;

// The document as the tag rules see it. A position's format is found
// through a cursor, which costs a tree look-up, not a walk of the line.
class DocumentTagText : public TagText
{
public:
    explicit DocumentTagText(const QTextDocument *doc) : m_doc(doc) {}
    qsizetype length() const override;
    QChar charAt(qsizetype pos) const override;
    bool isUnderlined(qsizetype pos) const override;
    // Formats live in fragments: after a change over much of the message
    // (the rainbow) the runs come from walking them, not from a look-up per
    // character.
    QVector<TextRange> underlinedRuns(qsizetype from, qsizetype to) const override;

private:
    const QTextDocument *m_doc;
};
