#pragma once

#include "rtfreader.h"

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

    // What went wrong, with the HTTP status that says it.
    struct Outcome {
        int status = 200;
        QString error; // Portuguese, for the operator
        QByteArray data;
        bool ok() const { return status == 200; }
    };

    QStringList names() const;
    Outcome read(const QString &name) const;
    // A message, parsed; its error as read()'s.
    RtfReadResult message(const QString &name, int *status = nullptr) const;
    // Replaces the file atomically.
    Outcome save(const QString &name, const QByteArray &rtf) const;

private:
    QString m_folder;
};
