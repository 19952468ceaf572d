#pragma once

#include <QByteArray>

// Reads the panel's answer one byte at a time. It hunts for a start (0x81
// 0x7E or a lone 0x7E), takes a two-byte length, passes over four bytes, and
// collects length - 3 payload bytes. The check byte is not verified: panels
// in the field have never been held to it.
class ReplyReceiver
{
public:
    // Replies this long or longer cannot be counted and never complete,
    // which the link then treats as no reply.
    static constexpr int kMaxLength = 32767;

    void reset();
    // Returns true once the payload is complete.
    bool feed(quint8 b);

    bool isComplete() const { return m_complete; }
    // The first two of the four header bytes: the answering panel's address.
    quint16 address() const { return m_address; }
    const QByteArray &payload() const { return m_payload; }
    // The last byte received while hunting and every byte after it.
    const QByteArray &collected() const { return m_collected; }

private:
    void collect(quint8 b);

    int m_state = 0;
    int m_lengthLow = 0;
    quint16 m_address = 0;
    qint64 m_count = 0;
    bool m_counting = true;
    bool m_complete = false;
    QByteArray m_payload;
    QByteArray m_collected;
};
