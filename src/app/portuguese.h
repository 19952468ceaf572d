#pragma once

// The program speaks Portuguese everywhere, Qt's own texts included (the
// buttons of its message boxes, the file and print dialogs, the editor's
// context menu): the locale is Portuguese (Brazil), and Qt's translations
// are loaded when the system has them. Returns whether they were found;
// without them the program runs with Qt's English texts.
bool installPortuguese();
