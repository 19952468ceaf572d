#pragma once

#include <QByteArray>
#include <QString>

// Reads the frame a relay client sends, as a panel would check it: 0x81
// 0x7E, a length that fits the panel's largest frame, an address 0..31,
// 0xFF 0xFF, the data and a check byte that matches. Anything else (an
// HTTP request line, a frame with a bad check byte, bytes between frames)
// is Bad: such a connection is closed and nothing of it reaches the line.
class RelayRequestReader
{
public:
    enum class State { NeedMore, Frame, Bad };

    // One byte more. After Frame, address() and data() hold it until the
    // next reset(); after Bad, why() says what was wrong.
    State feed(quint8 b);
    void reset();

    // Part of a frame has come, not all of it.
    bool started() const { return m_at > 0; }
    qint16 address() const { return qint16(m_address); }
    // The data field as the client encoded it (no header, no check byte).
    const QByteArray &data() const { return m_data; }
    const QString &why() const { return m_why; }

private:
    State bad(const QString &why);

    int m_at = 0; // bytes of the frame read so far
    int m_length = 0;
    quint16 m_address = 0;
    QByteArray m_data;
    QString m_why;
};
