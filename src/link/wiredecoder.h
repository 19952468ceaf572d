#pragma once

#include <QByteArray>
#include <QString>

// Reads an encoded data field back into text a person can check: tag codes
// by name, accented-letter codes as letters, the expanded-character marker
// as "[E]", other control bytes as "\xHH". The clock and date fields are
// shown as their time and date.
QString decodeWireData(QByteArrayView data);
