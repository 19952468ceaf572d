#include "richtext.h"

RichText RichText::fromPlain(const QString &text, const CharFormat &format)
{
    RichText r;
    r.append(text, format);
    return r;
}

QChar RichText::charAt(qsizetype i) const
{
    return i >= 0 && i < m_chars.size() ? m_chars[i].ch : QChar();
}

bool RichText::isUnderlined(qsizetype i) const
{
    return i >= 0 && i < m_chars.size() && m_chars[i].format.underline;
}

void RichText::append(const QString &text, const CharFormat &format)
{
    m_chars.reserve(m_chars.size() + text.size());
    for (QChar c : text)
        m_chars.append({c, format});
}

RichText RichText::mid(qsizetype pos, qsizetype len) const
{
    RichText r;
    r.m_alignment = m_alignment;
    pos = qBound<qsizetype>(0, pos, m_chars.size());
    r.m_chars = m_chars.mid(pos, len);
    return r;
}

QString RichText::plainText() const
{
    QString s(m_chars.size(), Qt::Uninitialized);
    QChar *d = s.data();
    for (qsizetype i = 0; i < m_chars.size(); ++i)
        d[i] = m_chars[i].ch;
    return s;
}
