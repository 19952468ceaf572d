#include "replyreceiver.h"

namespace
{
// A device that never stops talking must not grow the trace without end.
constexpr qsizetype kMaxCollected = 1 << 16;
} // namespace

void ReplyReceiver::reset()
{
    *this = ReplyReceiver();
}

void ReplyReceiver::collect(quint8 b)
{
    if (m_collected.size() < kMaxCollected) m_collected.append(char(b));
}

bool ReplyReceiver::feed(quint8 b)
{
    if (m_complete) return true;
    switch (m_state) {
    case 0:
        m_collected.clear();
        collect(b);
        if (b == 0x81)
            m_state = 1;
        else if (b == 0x7E)
            m_state = 2;
        break;
    case 1:
        collect(b);
        if (b == 0x7E) m_state = 2;
        break;
    case 2:
        collect(b);
        m_lengthLow = b;
        m_state = 3;
        break;
    case 3: {
        collect(b);
        const int length = b * 256 + m_lengthLow;
        m_counting = length <= kMaxLength;
        m_count = qint64(length) + 1;
        m_state = 4;
        break;
    }
    case 4:
    case 5:
    case 6:
    case 7:
        collect(b);
        if (m_state == 4) m_address = b;
        if (m_state == 5) m_address |= quint16(b << 8);
        --m_count;
        ++m_state;
        break;
    default:
        collect(b);
        // A length below 4 has counted past zero before the payload: such a
        // reply never completes, and its bytes are no payload.
        if (!m_counting || m_count <= 0) break;
        m_payload.append(char(b));
        if (--m_count == 0) m_complete = true;
        break;
    }
    return m_complete;
}
