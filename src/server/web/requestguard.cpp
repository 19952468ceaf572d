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

// The last item of a list header, every line of it read in order as one
// comma-separated list: HTTP reads repeated lines so, and a proxy may add
// its own line after the client's.
QByteArray lastItem(const HttpRequest &r, const QByteArray &name)
{
    QByteArray last;
    for (const auto &h : r.headers)
        if (h.first == name) last = h.second.split(',').last().trimmed();
    return last;
}

} // namespace

RequestGuard::RequestGuard(const QStringList &names, const QStringList &proxies, bool secureCookie)
    : m_secureCookie(secureCookie)
{
    m_names = {QStringLiteral("localhost"), QSysInfo::machineHostName().toLower()};
    for (const QString &n : names)
        m_names.append(n.toLower());
    const Result<Subnets> parsed = Subnets::parse(proxies);
    if (parsed)
        m_proxies = *parsed;
    else
        m_invalidProxy = parsed.why();
}

bool RequestGuard::isWrite(const HttpRequest &r)
{
    return r.method != "GET" && r.method != "HEAD" && r.method != "OPTIONS";
}

bool RequestGuard::hasBearer(const HttpRequest &r)
{
    // An authentication scheme's name is case-insensitive.
    return r.header("authorization").left(7).compare("bearer ", Qt::CaseInsensitive) == 0;
}

QByteArray RequestGuard::bearerToken(const HttpRequest &r)
{
    return hasBearer(r) ? r.header("authorization").mid(7).trimmed() : QByteArray();
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
    // Two Host lines: the proxy and the service could each read another.
    int hosts = 0;
    for (const auto &h : r.headers)
        hosts += h.first == "host";
    if (hosts > 1) return refusal(400, QStringLiteral("mais de um Host"));
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
        // Behind a TLS proxy the page's origin is https, and the Host the
        // same; a page over https is not ours when we were reached over http.
        const QByteArray scheme = secureCookie(r) ? "https://" : "http://";
        if (origin != scheme + host) return refusal(403, QStringLiteral("pedido de outra origem"));
    }
    return std::nullopt;
}

bool RequestGuard::forwards(const HttpRequest &r)
{
    return !r.header("x-forwarded-for").isEmpty() || !r.header("x-forwarded-proto").isEmpty();
}

bool RequestGuard::fromProxy(const HttpRequest &r) const
{
    return m_proxies.contains(QHostAddress(r.peer));
}

QString RequestGuard::clientAddress(const HttpRequest &r) const
{
    if (!fromProxy(r)) return r.peer;
    // The proxy appends the address it saw last: earlier entries are the
    // client's own word.
    const QByteArray forwarded = lastItem(r, "x-forwarded-for");
    const QHostAddress client(QString::fromLatin1(forwarded));
    return client.isNull() ? r.peer : client.toString();
}

bool RequestGuard::secureCookie(const HttpRequest &r) const
{
    return m_secureCookie ||
           (fromProxy(r) && lastItem(r, "x-forwarded-proto").toLower() == "https");
}
