#include "relayrequest.h"

#include "frame.h"

void RelayRequestReader::reset()
{
    m_at = 0;
    m_length = 0;
    m_address = 0;
    m_data.clear();
    m_why.clear();
}

RelayRequestReader::State RelayRequestReader::bad(const QString &why)
{
    m_why = why;
    return State::Bad;
}

RelayRequestReader::State RelayRequestReader::feed(quint8 b)
{
    const int at = m_at++;
    switch (at) {
    case 0:
        return b == 0x81 ? State::NeedMore : bad(QStringLiteral("não começa um quadro"));
    case 1:
        return b == 0x7E ? State::NeedMore : bad(QStringLiteral("não começa um quadro"));
    case 2:
        m_length = b;
        return State::NeedMore;
    case 3:
        m_length |= b << 8;
        // The length counts the address, 0xFF 0xFF and the data.
        if (m_length < 5 || m_length - 4 > frame::kMaxData)
            return bad(QStringLiteral("comprimento impossível"));
        m_data.reserve(m_length - 4);
        return State::NeedMore;
    case 4:
        m_address = b;
        return State::NeedMore;
    case 5:
        m_address |= b << 8;
        return m_address <= 31 ? State::NeedMore : bad(QStringLiteral("endereço impossível"));
    case 6:
    case 7:
        return b == 0xFF ? State::NeedMore : bad(QStringLiteral("cabeçalho incompleto"));
    default:
        break;
    }
    if (m_data.size() < m_length - 4) {
        m_data.append(char(b));
        return State::NeedMore;
    }
    if (b != frame::checkByte(qint16(m_address), m_data))
        return bad(QStringLiteral("byte de verificação errado"));
    return State::Frame;
}
