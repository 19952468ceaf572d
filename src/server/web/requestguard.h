#pragma once

#include "httpengine.h"
#include "subnets.h"

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QStringList>

#include <optional>

// Who may ask the service for what, judged from a request's header alone
// (before its body is read): the names it answers to, writes that only its
// own page or a script can make, and which reverse proxies are believed
// about the client's address and scheme.
//
// A browser on the same network, or a page of any site open in the
// operator's browser, can post a plain HTML form (text/plain) to the
// service and make the browser add the session cookie; DNS rebinding gives
// such a page the service's own origin under another name. So `Host` must
// name this machine, and a write made with a session cookie must carry a
// type no form can send (which needs a preflight the service never grants)
// and, when the browser says where it comes from, our own origin. Scripts
// authenticate with a bearer token, which no browser adds by itself.
class RequestGuard
{
public:
    // names: Host names besides the machine's own and its addresses;
    // proxies: addresses or networks ("10.0.0.0/8") of the reverse proxies.
    RequestGuard(const QStringList &names, const QStringList &proxies, bool secureCookie);
    // The first entry of proxies that is neither an address nor a network.
    QString invalidProxy() const { return m_invalidProxy; }

    // 400, 421, 415 or 403 with the reason, or nothing when the request may go on.
    std::optional<HttpResponse> refuse(const HttpRequest &r) const;
    // The client: the peer, or the address a believed proxy forwarded for.
    QString clientAddress(const HttpRequest &r) const;
    // The request reached a believed proxy over HTTPS, or the operator says
    // the service is only ever reached so: the cookie is then Secure.
    bool secureCookie(const HttpRequest &r) const;

    static bool isWrite(const HttpRequest &r);
    static bool hasBearer(const HttpRequest &r);
    // The token after "Bearer " (the word in any case), or empty.
    static QByteArray bearerToken(const HttpRequest &r);

    // The peer is one of `proxies`: its X-Forwarded-* headers are believed.
    bool fromProxy(const HttpRequest &r) const;
    // X-Forwarded-For or -Proto from a peer not in `proxies`: ignored, and
    // the peer's address to say once in the log, so that an administrator
    // behind a proxy learns why every client looks like the proxy.
    static bool forwards(const HttpRequest &r);

private:
    bool knownHost(const QByteArray &host) const;

    QStringList m_names; // lower case
    Subnets m_proxies;
    QString m_invalidProxy;
    bool m_secureCookie;
};
