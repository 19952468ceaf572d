#include "subnets.h"

Result<Subnets> Subnets::parse(const QStringList &items)
{
    Subnets out;
    for (const QString &raw : items) {
        const QString item = raw.trimmed();
        QPair<QHostAddress, int> net;
        if (item.contains(u'/')) {
            net = QHostAddress::parseSubnet(item);
        } else {
            net.first = QHostAddress(item);
            net.second = net.first.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
        }
        if (net.first.isNull()) return Failure::invalid(item);
        out.m_nets.append(net);
    }
    return out;
}

bool Subnets::contains(const QHostAddress &peer) const
{
    bool v4 = false;
    const QHostAddress plain(peer.toIPv4Address(&v4));
    for (const auto &net : m_nets)
        if (peer.isInSubnet(net) || (v4 && plain.isInSubnet(net))) return true;
    return false;
}
