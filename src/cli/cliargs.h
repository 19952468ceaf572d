#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

class RichText;

// Exit statuses of the tool; scripts rely on them.
enum ExitStatus { ExitOk = 0, ExitExchangeFailed = 1, ExitUsage = 2 };

// Writes to stdout or stderr as UTF-8, a line at a time, flushed, so that a
// script reading a pipe sees each line as it comes.
void printOut(const QString &line);
void printErr(const QString &line);
// Whether a line could not be written (a full disk, a closed pipe): the
// exit status is then 2, whatever the command did.
bool outputFailed();

// Prints the message and the usage on stderr; returns ExitUsage.
int usageError(const QString &message);
QString usageText();
// The usage of one command, for "COMANDO --ajuda".
QString commandUsage(const QString &command);
// "letreiro-cli 1.0.0".
QString versionText();

// Parses the arguments of one subcommand, which takes `positional`
// arguments (-1: the subcommand counts them); on failure prints why, in
// Portuguese, and returns false.
bool parseArgs(QCommandLineParser &parser, const QStringList &args, int positional);

// A whole number in [low, high] from an option value; nothing when it is not.
std::optional<int> intOption(const QString &value, int low, int high);

// Reads a message file; on failure prints why (in Portuguese) and returns
// false.
bool readMessageFile(const QString &path, RichText *text);
