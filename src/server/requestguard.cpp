#include "requestguard.h"

#include <QSysInfo>

namespace
{

HttpResponse refusal(int status, const QString &why)
{
    HttpResponse r;
    r.status = status;
    r.body = R"({"erro":")" + why.toUtf8() + "\"}";
    r.setHeader("Content-Type", "application/json; charset=utf-8");
    return r;
}

// The media type alone, without parameters, in lower case.
QByteArray mediaType(const QByteArray &contentType)
{
    return contentType.split(';').first().trimmed().toLower();
}

// "host", "host:port", "[v6]:port" -> the host, lower case.
QByteArray hostOf(const QByteArray &hostHeader)
{
    const QByteArray h = hostHeader.trimmed().toLower();
    if (h.startsWith('[')) return h.mid(1, h.indexOf(']') - 1);
    const qsizetype colon = h.indexOf(':');
    return colon < 0 || h.indexOf(':', colon + 1) >= 0 ? h : h.left(colon);
}

} // namespace

RequestGuard::RequestGuard(const QStringList &names, const QStringList &proxies, bool secureCookie)
    : m_secureCookie(secureCookie)
{
    m_names = {QStringLiteral("localhost"), QSysInfo::machineHostName().toLower()};
    for (const QString &n : names)
        m_names.append(n.toLower());
    for (const QString &p : proxies) {
        const QHostAddress a(p);
        const auto net =
            a.isNull() ? QHostAddress::parseSubnet(p)
                       : qMakePair(a, a.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32);
        if (net.first.isNull() && m_invalidProxy.isEmpty()) m_invalidProxy = p;
        if (!net.first.isNull()) m_proxies.append(net);
    }
}

bool RequestGuard::isWrite(const HttpRequest &r)
{
    return r.method != "GET" && r.method != "HEAD" && r.method != "OPTIONS";
}

bool RequestGuard::hasBearer(const HttpRequest &r)
{
    return r.header("authorization").startsWith("Bearer ");
}

bool RequestGuard::knownHost(const QByteArray &host) const
{
    const QString name = QString::fromLatin1(host);
    if (!QHostAddress(name).isNull()) return true;
    // A name ending in a dot is the same name.
    return m_names.contains(name.endsWith(u'.') ? name.chopped(1) : name);
}

std::optional<HttpResponse> RequestGuard::refuse(const HttpRequest &r) const
{
    if (!knownHost(hostOf(r.header("host"))))
        return refusal(421, QStringLiteral("este serviço não atende por esse nome (Host)"));
    if (!isWrite(r) || hasBearer(r)) return std::nullopt;
    // The library takes RTF as it is; everything else is JSON.
    const QByteArray type = mediaType(r.header("content-type"));
    const bool rtf = r.method == "PUT" && r.target.startsWith("/api/mensagens/");
    if (type != "application/json" && !(rtf && type == "application/rtf"))
        return refusal(415, QStringLiteral("envie Content-Type: application/json"));
    const QByteArray site = r.header("sec-fetch-site").toLower();
    if (!site.isEmpty() && site != "same-origin" && site != "none")
        return refusal(403, QStringLiteral("pedido de outra origem"));
    if (r.hasHeader("origin")) {
        const QByteArray host = r.header("host").trimmed().toLower();
        const QByteArray origin = r.header("origin").trimmed().toLower();
        // Behind a TLS proxy the page's origin is https, and the Host the same.
        if (origin != "http://" + host && origin != "https://" + host)
            return refusal(403, QStringLiteral("pedido de outra origem"));
    }
    return std::nullopt;
}

bool RequestGuard::fromProxy(const HttpRequest &r) const
{
    const QHostAddress peer(r.peer);
    for (const auto &net : m_proxies)
        if (peer.isInSubnet(net)) return true;
    return false;
}

QString RequestGuard::clientAddress(const HttpRequest &r) const
{
    if (!fromProxy(r)) return r.peer;
    // The proxy appends the address it saw last: earlier entries are the
    // client's own word.
    const QByteArray forwarded = r.header("x-forwarded-for").split(',').last().trimmed();
    const QHostAddress client(QString::fromLatin1(forwarded));
    return client.isNull() ? r.peer : client.toString();
}

bool RequestGuard::secureCookie(const HttpRequest &r) const
{
    return m_secureCookie ||
           (fromProxy(r) && r.header("x-forwarded-proto").trimmed().toLower() == "https");
}
