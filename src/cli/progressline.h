#pragma once

#include "panellink.h"

#include <cstdio>

// A frame that takes more than a second is followed on a terminal: one
// line, written over as the frame goes ("Transmitindo: 1.234 de 7.509
// bytes, restam 28 s") and wiped when it is whole. Scripts that read
// stderr through a pipe or a file get none of it.
class ProgressLine : public LinkListener
{
public:
    // Writes to `out` only when it is a terminal.
    explicit ProgressLine(FILE *out);
    void frameProgress(qsizetype written, qsizetype total, qint64 msLeft) override;
    // The exchange is over: a line left by a frame cut short is wiped, so
    // what is printed next starts on a line of its own.
    void end();

private:
    void put(const QString &line);

    FILE *m_out;
    bool m_enabled;
    bool m_shown = false;
    qsizetype m_width = 0;
};
