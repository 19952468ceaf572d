#pragma once

#include <QStringList>

// `letreiro-cli painel`: a panel on a pseudo-terminal, so that the program
// can be tried without hardware.
int runEmulator(const QStringList &args);
