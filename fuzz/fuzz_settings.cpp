// The settings-file reader on any bytes, as every one of the four files.
#include "settingsfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QString &name : {settingsfiles::kConfigFile, settingsfiles::kPasswordFile,
                                settingsfiles::kUsbFile, settingsfiles::kTipsFile}) {
        QFile f(QDir(dir.path()).filePath(name));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
    }
    const SettingsFiles files(dir.path());
    Settings s;
    QString address;
    files.loadConfig(s, SettingsFiles::Missing::Skip, &address);
    files.loadPassword(s, SettingsFiles::Missing::Skip);
    files.loadUsbAdapter(s, SettingsFiles::Missing::Skip);
    files.loadTips(s, SettingsFiles::Missing::Skip);
    if (s.tipTexts.size() != Settings::kTipSlots) abort();
    for (const QByteArray &line : settingsfiles::splitLines(bytes)) {
        qint16 v = 0;
        settingsfiles::readInt16(line, &v);
    }
    return 0;
}
