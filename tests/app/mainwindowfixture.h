#pragma once

// The main window as the application shows it, over a settings folder of
// its own, a scripted prompt and a fake port: the app tests' one fixture.
#include "documentwindow.h"
#include "editor/scriptedprompt.h"
#include "fakepanelport.h"
#include "mainwindow.h"
#include "messageedit.h"
#include "settingsfiles.h"
#include "testfiles.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTextDocument>

#include <memory>

struct MainWindowFixture {
    QTemporaryDir dir;
    Settings settings;
    ScriptedPrompt prompt;
    FakePanelPort *port = nullptr; // owned by the window
    std::unique_ptr<MainWindow> window;

    // "cobalto.cfg": port 1, the address, tips hidden, the panel type and
    // the temperature option.
    void writeConfig(int address = 1, int panelType = 0, int temperature = 0) const
    {
        writeFile(dir.filePath("cobalto.cfg"), QString(" 1\r\n %1\r\n 1\r\n %2\r\n %3\r\n")
                                                   .arg(address)
                                                   .arg(panelType)
                                                   .arg(temperature)
                                                   .toLatin1());
    }

    // A new main window with a fake port (or the real serial line), loaded
    // as the application loads it.
    MainWindow &open(bool fakePort = true)
    {
        close();
        prompt = ScriptedPrompt();
        port = fakePort ? new FakePanelPort : nullptr;
        window = std::make_unique<MainWindow>(settings, dir.path(), &prompt, port);
        if (port) port->setParent(window.get());
        reload();
        return *window;
    }

    // Reads the files anew, as each return of the main window does.
    void reload() { window->load(SettingsFiles(dir.path()).loadAll(settings)); }

    // Closes the window without questions about unsaved messages.
    void close()
    {
        if (!window) return;
        for (QMdiSubWindow *w : window->mdiArea()->subWindowList())
            if (auto *d = qobject_cast<DocumentWindow *>(w->widget()))
                d->editor()->document()->setModified(false);
        window.reset();
    }
};
