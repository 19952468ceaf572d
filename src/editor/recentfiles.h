#pragma once

#include <QString>
#include <QStringList>

// The messages last opened or saved, by any road (the menu, the command
// line, a drop), newest first, and the folder the file dialogs start in.
// Kept in the per-user store (section "ArquivosRecentes"), so that they
// outlive the program; files that are gone are left out.
namespace recentfiles
{

constexpr int kMax = 8;

QStringList list();
// Puts the file first (once), drops the oldest beyond kMax, and makes its
// folder the one the dialogs start in.
void add(const QString &path);
// The folder last used while it is there, else the user's documents
// folder (the home folder when there is none), never the program's own.
QString lastFolder();

} // namespace recentfiles
