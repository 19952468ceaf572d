#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>

class PanelLink;
class RichText;

// The texts the operator reads in the status bar after a panel command.
namespace status
{
inline const QString kSending = QStringLiteral("Transmitindo!!!");
inline const QString kSuccess = QStringLiteral("Transmissão bem sucedida.");
inline const QString kFailure = QStringLiteral("Falha na transmissão.");
inline const QString kGlobalSuccess = QStringLiteral("Transmissão global bem sucedida.");
inline const QString kClockSet = QStringLiteral("Hora acertada.");
inline const QString kDateSet = QStringLiteral("Data acertada.");
} // namespace status

namespace datafield
{
// Packed BCD: 59 becomes 0x59.
quint8 bcd(int value);
// "R", hour, minute, second.
QByteArray clock(const QTime &time);
// "D", day, month, two-digit year, weekday (Monday 1 to Sunday 7).
QByteArray date(const QDate &date);
} // namespace datafield

struct CommandOutcome {
    QString status;
    bool succeeded = false;
    QString reason;
    // The answer's payload, as the panel sent it (for a shared line's
    // clients, who read the answer themselves).
    QByteArray reply;

    // The outcome as status panel 1 shows it: the text, then the reason of
    // a failure ("Falha na transmissão. (/dev/ttyUSB0: ...)").
    QString statusWithReason() const;
};
Q_DECLARE_METATYPE(CommandOutcome)

// The panel commands, shared by the desktop program and the command-line
// tool. Each sends its data field and says what the status bar shows.
//
// A global send and the clock and date commands used to report success
// whatever happened; they now report a failure when the bytes could not even
// be written (the link's NAK), since that is a failure reported as success.
class PanelCommands
{
public:
    explicit PanelCommands(PanelLink &link) : m_link(link) {}

    // "L" and the message, to the address (0: every panel).
    CommandOutcome transfer(qint16 address, const QByteArray &loadField);
    // "P", "A" or "I", to the address (0: every panel).
    CommandOutcome letter(qint16 address, char letter);
    // Always to every panel; both fields come from one reading of the clock.
    CommandOutcome setClock(const QDateTime &now);
    CommandOutcome setDate(const QDateTime &now);
    // A frame another program encoded, passed on unchanged.
    CommandOutcome relay(qint16 address, const QByteArray &encodedData);

private:
    CommandOutcome send(qint16 address, const QByteArray &field, const QString &globalText,
                        bool encode = true);

    PanelLink &m_link;
};
