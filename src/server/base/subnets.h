#pragma once

#include "result.h"

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QStringList>

// Lists of addresses and networks ("127.0.0.1, 192.168.10.0/24, ::1"), read
// and matched in one place: the relay's `repasse_de` and the page's
// `proxies`. An IPv4 peer seen through an IPv6 socket (::ffff:10.0.0.5)
// matches its IPv4 network.
class Subnets
{
public:
    // A list that cannot be read is refused whole, naming the first item
    // that is neither an address nor a network.
    static Result<Subnets> parse(const QStringList &items);

    bool contains(const QHostAddress &peer) const;
    bool isEmpty() const { return m_nets.isEmpty(); }

private:
    QList<QPair<QHostAddress, int>> m_nets;
};
