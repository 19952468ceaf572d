#pragma once

#include "result.h"
#include "richtext.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The folder of messages the page and the API read and write. Only regular
// files directly in it count: a symbolic link in it is neither read nor
// written through (whoever can put a link there must not reach the rest of
// the disk through the service), although the folder itself may be a link.
// Names are plain ".msg" file names (isMessageName).
class MessageLibrary
{
public:
    explicit MessageLibrary(QString folder) : m_folder(std::move(folder)) {}

    QStringList names() const;
    Result<QByteArray> read(const QString &name) const;
    // A message, parsed; a file that is no message is Invalid.
    Result<RichText> message(const QString &name) const;
    // Replaces the file atomically.
    Result<> save(const QString &name, const QByteArray &rtf) const;

private:
    QString m_folder;
};
