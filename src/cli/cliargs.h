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

// The command this run carries out ("transfere"); every message of the run
// names it after the program, so that a script's log says which call failed.
void setCommandName(const QString &command);
// "letreiro-cli transfere: " and the message, on stderr.
void printError(const QString &message);
// A mistake in the call: one line saying what is wrong, then the command's
// synopsis (not the whole usage); returns ExitUsage.
int usageError(const QString &message);
// "letreiro-cli 1.0.0".
QString versionText();

// Parses the arguments of the current command, which takes `positional`
// arguments (-1: the command counts them). Nothing when the command goes
// on; otherwise the status to end with: 0 after -h/--help/--ajuda (the
// command's help on stdout), 2 after a mistake (said in Portuguese).
std::optional<int> parseArgs(QCommandLineParser &parser, const QStringList &args, int positional);

// Standard input as a typed message, one trailing line end dropped.
QString readTypedInput();
// A message typed as text, for the commands that take one: from --texto,
// or from standard input when the one argument is "-" (one trailing line
// end dropped). Nothing when the message is a file instead.
std::optional<QString> typedText(const QCommandLineParser &parser,
                                 const QCommandLineOption &textOption);

// A whole number in [low, high] from an option value; nothing when it is not.
std::optional<int> intOption(const QString &value, int low, int high);

// Reads a message file; on failure prints why (in Portuguese) and returns
// false.
bool readMessageFile(const QString &path, RichText *text);
