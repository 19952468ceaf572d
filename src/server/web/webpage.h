#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// The page's files (HTML, style, scripts), shipped in the program's
// resources, and the headers every answer of the service carries.
namespace webpage
{

struct File {
    QByteArray body;
    QByteArray type; // Content-Type
};

// The file behind a path of the page ("/" is the page itself), or nothing.
std::optional<File> file(const QString &path);

// The page's scripts and styles are files of its own origin, never inline;
// no other site may frame it (clickjacking), nothing is read as another
// type than it says, and no address leaves in a Referer.
QList<QPair<QByteArray, QByteArray>> securityHeaders();

} // namespace webpage
