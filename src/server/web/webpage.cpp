#include "webpage.h"

#include <QFile>
#include <QRegularExpression>

namespace webpage
{

std::optional<File> file(const QString &path)
{
    static const QRegularExpression name(QStringLiteral("^/([a-z]+)\\.(html|css|js)$"));
    // "/" is the site's page, "/sede" the head office's.
    const QRegularExpressionMatch m = name.match(path == u'/'                    ? QStringLiteral("/index.html")
                                                 : path == QLatin1String("/sede") ? QStringLiteral("/sede.html")
                                                                                  : path);
    if (!m.hasMatch()) return std::nullopt;
    QFile f(QStringLiteral(":/server/") + m.captured(1) + u'.' + m.captured(2));
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    const QString ext = m.captured(2);
    const QByteArray type = ext == u"html"  ? "text/html; charset=utf-8"
                            : ext == u"css" ? "text/css; charset=utf-8"
                                            : "text/javascript; charset=utf-8";
    return File{f.readAll(), type};
}

QList<QPair<QByteArray, QByteArray>> securityHeaders()
{
    return {{"Content-Security-Policy",
             "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
             "connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'"},
            {"X-Content-Type-Options", "nosniff"},
            {"Referrer-Policy", "no-referrer"},
            {"X-Frame-Options", "DENY"}};
}

} // namespace webpage
