#pragma once

#include <QString>

// Where the settings files live. A portable install keeps everything in the
// program's own folder: that folder is used when the settings files already
// stand there or when it can be written. An installed program (in a bin/
// folder beside share/letreiro/, such as /usr/bin) keeps its settings in the
// per-user data folder instead ("~/.local/share/Letreiro" on Linux,
// "%LOCALAPPDATA%/Letreiro" on Windows), which is created when needed.
QString settingsFolder(const QString &programFolder);
// The per-user folder of that rule.
QString perUserSettingsFolder();

// The rule applied to the folder of the running executable.
QString defaultSettingsFolder();
