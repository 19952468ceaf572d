#pragma once

#include <QByteArray>
#include <QSet>

#include <deque>

// The QoS 1 messages of one broker session already taken: one the broker
// sends again (its acknowledgement lost with the connection) comes with the
// same packet id, topic and payload and is passed over. Bounded: the
// broker reuses a packet id only after 65,535 others.
class SeenMessages
{
public:
    static constexpr size_t kRemembered = 1024;

    // False when `key` was seen already.
    bool remember(const QByteArray &key)
    {
        if (m_keys.contains(key)) return false;
        m_keys.insert(key);
        m_order.push_back(key);
        if (m_order.size() > kRemembered) {
            m_keys.remove(m_order.front());
            m_order.pop_front();
        }
        return true;
    }
    // A new session: its packet ids start over.
    void clear()
    {
        m_keys.clear();
        m_order.clear();
    }
    const std::deque<QByteArray> &keys() const { return m_order; }

private:
    QSet<QByteArray> m_keys;
    std::deque<QByteArray> m_order;
};
