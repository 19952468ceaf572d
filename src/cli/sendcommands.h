#pragma once

#include <QStringList>

// The subcommands; each takes the arguments after its name (with the
// program name in front, as QCommandLineParser expects) and returns the
// exit status.
int runEncode(const QStringList &args);
int runFrame(const QStringList &args);
int runSend(const QString &command, const QStringList &args);
int runListPorts(const QStringList &args);
