#pragma once

#include <QString>

// The broker's and the library's reasons in words an administrator can act
// on: the log, `avisos` and the API say these, not a number.
namespace mqttreasons
{

// A PUBACK's or SUBACK's refusal (0x80 and up), with its code.
QString refusal(int reason);

// Why a connection ended or could not be made. `refused`: the broker said
// no (a password, a certificate, a permission), which trying again will not
// mend; otherwise it is away or went away.
struct Verdict {
    QString words;
    bool refused = false;
};
// `reason`: an MQTT 5 reason code (0x80 and up) or the library's error;
// `detail`: the system's or the TLS library's own words; `where`: host:port;
// `withUser`: a user name was given (brokers refuse a wrong password with
// 0x86 or, as Mosquitto does, 0x87); `section`: where the broker's keys
// are written in the configuration, for a hint that names it.
Verdict ofLoss(int reason, const QString &detail, const QString &where, bool withUser,
               const QString &section = QStringLiteral("mqtt"));

// The MQTT library's own error (below 0x80) in Portuguese: its own words
// are English.
QString libraryError(int code);

} // namespace mqttreasons
