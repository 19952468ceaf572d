#pragma once

#include <QStringList>

// `letreiro-cli simula`: plays a message on virtual time and prints what the
// panel view and the tag box show, one JSON object per change.
int runSimulate(const QStringList &args);
