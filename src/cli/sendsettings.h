#pragma once

// What a command for the panels reads before it sends: its options, the
// type and addresses they give, and the settings as the desktop program
// would use them with the options over them.
#include "settings.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>

namespace sendoptions
{
extern const QCommandLineOption kType, kAddress, kFolder, kPort, kUsb, kShow, kText, kWait,
    kJson, kStrict;
}

// The settings as the desktop program would use them, then the options.
struct SendSettings {
    Settings shared;
    // The panels, in the order given ("--endereco 1,3,5-7").
    QList<int> addresses;
    QString device;
    // Where the port came from when no --porta named it: the operator who
    // never chose one must learn which real port a send goes to.
    QString portOrigin;
};

// --tipo into `type` when given; false (said) when it is no type.
bool readType(const QCommandLineParser &p, int *type);
// --endereco into `addresses` when given: one, or with `listAllowed` a list
// such as 1,3,5-7; false (said) when it cannot be right.
bool readAddresses(const QCommandLineParser &p, bool listAllowed, QList<int> *addresses);
// The settings folder's files, then the options; false (said) when the
// send must not go.
bool loadSendSettings(const QCommandLineParser &p, bool listAllowed, SendSettings *out);
