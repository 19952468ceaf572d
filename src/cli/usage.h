#pragma once

#include <QString>
#include <QStringList>

// The tool's help texts, in Portuguese as the operators read them.
namespace usage
{

// The whole usage, for "letreiro-cli --ajuda".
QString program();
// The few lines after a mistake made before any command: how to call the
// tool and where the rest is.
QString programShort();
// The commands the tool knows, in the order the usage lists them.
QStringList commands();
bool isCommand(const QString &name);
// "COMANDO --ajuda": the synopsis, what the command does and its options.
QString command(const QString &name);
// The synopsis alone and where the rest is, after a mistake in a command.
QString commandShort(const QString &name);

} // namespace usage
