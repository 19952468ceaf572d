#include "progressline.h"

#include <QLocale>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace
{
bool isTerminal(FILE *f)
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(f)) != 0;
#else
    return isatty(fileno(f)) != 0;
#endif
}
} // namespace

ProgressLine::ProgressLine(FILE *out) : m_out(out), m_enabled(isTerminal(out)) {}

void ProgressLine::frameProgress(qsizetype written, qsizetype total, qint64 msLeft)
{
    if (!m_enabled) return;
    // A frame that is gone within a second needs no line.
    if (written == 0) m_shown = msLeft > 1000;
    if (!m_shown) return;
    if (written == total) {
        end();
        return;
    }
    const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    put(QStringLiteral("Transmitindo: %1 de %2 bytes, restam %3 s")
            .arg(brazil.toString(qint64(written)), brazil.toString(qint64(total)))
            .arg((msLeft + 999) / 1000));
}

void ProgressLine::end()
{
    if (m_shown) put(QString());
    m_shown = false;
}

void ProgressLine::put(const QString &line)
{
    // Back to the line's start; blanks wipe what a longer line left.
    const QString padded = line.leftJustified(m_width);
    m_width = line.size();
    const QByteArray bytes =
        (QLatin1Char('\r') + padded + (line.isEmpty() ? QStringLiteral("\r") : QString())).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out);
    std::fflush(m_out);
}
