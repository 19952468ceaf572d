// An operator's second hour: what a desktop program is expected to do
// (shortcuts, undo, help, recent files, drops, a changed mark), and the
// faults met on the way, each driven by real events.
#include "debugwindow.h"
#include "documentwindow.h"
#include "editor/scriptedprompt.h"
#include "fakepanelport.h"
#include "frame.h"
#include "helpwindow.h"
#include "ledlayout.h"
#include "mainwindow.h"
#include "messageedit.h"
#include "passwordwindows.h"
#include "settingsdialog.h"
#include "settingsfiles.h"
#include "statusbar.h"
#include "testfiles.h"

#include <QAction>
#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMimeData>
#include <QRadioButton>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QToolBar>
#include <QtTest>

class TestSecondHour : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    SharedSettings m_settings;
    ScriptedPrompt m_prompt;
    FakePanelPort *m_port = nullptr;
    std::unique_ptr<MainWindow> m_main;

    MainWindow &main() { return *m_main; }

    void start(int panelType = 0)
    {
        writeFile(m_dir.filePath("cobalto.cfg"),
                  QString(" 1\r\n 1\r\n 1\r\n %1\r\n 0\r\n").arg(panelType).toLatin1());
        m_prompt = ScriptedPrompt();
        m_port = new FakePanelPort;
        m_main = std::make_unique<MainWindow>(m_settings, m_dir.path(), &m_prompt, m_port);
        m_port->setParent(m_main.get());
        main().load();
        main().show();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
        main().MDIForm_Activate();
    }

    QString messageFile(const QString &name, const QByteArray &text)
    {
        const QString path = m_dir.filePath(name);
        writeFile(path, "{\\rtf1 " + text + "}");
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(QStringLiteral("Letreiro"), QStringLiteral("Letreiro")).clear();
    }

    void cleanup()
    {
        if (m_main) {
            for (QMdiSubWindow *w : main().mdiArea()->subWindowList())
                if (auto *d = qobject_cast<DocumentWindow *>(w->widget()))
                    d->editor()->document()->setModified(false);
        }
        m_main.reset();
    }

    void keysOfADesktopProgram()
    {
        start();
        QTest::keyClick(&main(), Qt::Key_N, Qt::ControlModifier);
        DocumentWindow *doc = main().activeEditor();
        QVERIFY(doc);
        // Wide enough for a line of tags at first start.
        QVERIFY(doc->parentWidget()->width() >= main().mdiArea()->viewport()->width() * 2 / 3);
        MessageEdit *e = doc->editor();
        QTest::keyClicks(e, "abc");
        // A changed message says so in its caption.
        QVERIFY(doc->isWindowModified());
        QCOMPARE(doc->caption(), QString("Documento 1"));
        main().menus().mnudesfazer->trigger();
        QVERIFY(e->toPlainText().size() < 3);
        QTest::keyClick(&main(), Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(e->toPlainText(), QString("abc"));
        e->undo();
        main().menus().mnurefazer->trigger();
        QCOMPARE(e->toPlainText(), QString("abc"));
        for (const auto &[action, keys] :
             {std::pair{main().menus().mnuabre, QKeySequence(QKeySequence::Open)},
              std::pair{main().menus().mnusalva, QKeySequence(QKeySequence::Save)},
              std::pair{main().menus().mnuimp, QKeySequence(QKeySequence::Print)}})
            QCOMPARE(action->shortcut(), keys);
        QVERIFY(main().menus().mnurefazer->shortcuts().contains(
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)));
        // F1: the guide, in Portuguese, shipped with the program.
        QTest::keyClick(&main(), Qt::Key_F1);
        auto *help = main().findChild<HelpWindow *>();
        QVERIFY(help && help->isVisible());
        QCOMPARE(help->windowTitle(), QString("Ajuda"));
        QVERIFY(help->browser()->toPlainText().contains("Porta de Comunicação não disponível"));
        help->close();
        // Ctrl+F4 closes the message, asking first when it has changes.
        m_prompt.answers.enqueue(Prompt::Answer::No);
        QTest::keyClick(&main(), Qt::Key_F4, Qt::ControlModifier);
        QTRY_VERIFY(main().mdiArea()->subWindowList().isEmpty());
        QCOMPARE(m_prompt.questions.size(), 1);
    }

    void recentFilesDropsAndFailedOpens()
    {
        start();
        const QString a = messageFile("a.msg", "A"), b = messageFile("b.msg", "B");
        main().openFile(a);
        main().openFile(b);
        main().menus().mnuFile->aboutToShow();
        QCOMPARE(main().menus().recentFiles[0]->text(), QString("&1 b.msg"));
        QCOMPARE(main().menus().recentFiles[1]->text(), QString("&2 a.msg"));
        QVERIFY(!main().menus().recentFiles[2]->isVisible());
        // The dialogs start where the last file was.
        m_prompt.files.enqueue(QString());
        main().menus().mnuabre->trigger();
        QCOMPARE(m_prompt.folders.last(), m_dir.path());
        // A file that is gone leaves the list; one that cannot be read
        // leaves no empty window behind.
        QFile::remove(a);
        const int windows = int(main().mdiArea()->subWindowList().size());
        main().menus().mnuFile->aboutToShow();
        QVERIFY(!main().menus().recentFiles[1]->isVisible());
        m_prompt.files.enqueue(a);
        main().menus().mnuabre->trigger();
        QCOMPARE(int(main().mdiArea()->subWindowList().size()), windows);
        QVERIFY(m_prompt.warnings.last().contains("não existe"));
        // Dropped on the window, or on a message: opened, not pasted.
        const QString c = messageFile("c.msg", "C");
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(c)});
        mime.setText(QUrl::fromLocalFile(c).toString());
        QVERIFY(!main().activeEditor()->editor()->canPaste() ||
                main().activeEditor()->editor()->toPlainText() == "B");
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&main(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&main(), &drop);
        QCOMPARE(main().activeEditor()->caption(), QString("c.msg"));
        QCOMPARE(main().activeEditor()->editor()->toPlainText(), QString("C"));
        main().menus().mnuFile->aboutToShow();
        QCOMPARE(main().menus().recentFiles[0]->text(), QString("&1 c.msg"));
    }

    void theMessageSizeAndACutAskedFor()
    {
        start(0);
        DocumentWindow *doc = main().LoadNewDoc();
        doc->editor()->insertPlainText(QString(7600, 'x'));
        QTRY_COMPARE(main().statusPanels()->messageSize(), QString("7.601 / 7.500"));
        m_prompt.answers.enqueue(Prompt::Answer::No);
        main().menus().mnutransfere->trigger();
        QVERIFY(m_prompt.questions.last().contains("os últimos 101 serão cortados"));
        QVERIFY(m_port->line.written.isEmpty());
        m_prompt.answers.enqueue(Prompt::Answer::Yes);
        main().menus().mnutransfere->trigger();
        QCOMPARE(m_port->line.written.size(), frame::kHeaderSize + frame::kMaxData + 1);
    }

    // Emptied, a message is typed on in its colour, never in black; and
    // the preview lights what the panel would show.
    void anEmptiedMessageKeepsItsColour()
    {
        MessageEdit e;
        e.show();
        QTest::keyClicks(&e, "abc");
        QTest::keyClick(&e, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(&e, Qt::Key_Delete);
        QTest::keyClicks(&e, "x");
        QCOMPARE(e.richText().at(0).format.colour, rgbColour(255, 0, 0));
        QCOMPARE(ledColour(rgbColour(0, 0, 0)), rgbColour(255, 0, 0));
        QCOMPARE(ledColour(rgbColour(20, 30, 10)), rgbColour(255, 0, 0));
        QCOMPARE(ledColour(rgbColour(0, 128, 0)), rgbColour(0, 128, 0));
    }

    void windowsWhereTheOperatorCanUseThem()
    {
        start(7); // 10 characters: no simulation
        main().LoadNewDoc();
        main().menus().mnudebug->trigger();
        QMdiSubWindow *debug = main().mdiArea()->currentSubWindow();
        const QRect area = main().mdiArea()->viewport()->rect();
        QVERIFY2(area.contains(debug->geometry()), "the debug window sticks out");
        for (QAction *b : main().toolbarButtons())
            if (b->property("key") == "sim") QVERIFY(!b->isEnabled());
        // Errors wear the warning icon.
        m_port->openOk = false;
        main().load();
        main().MDIForm_Activate();
        QCOMPARE(m_prompt.warnings, QStringList{"Porta de Comunicação não disponível!!!"});
    }

    void passwordsByKeyboard()
    {
        SettingsFiles files(m_dir.path());
        SharedSettings s;
        s.accessPassword = "cobalto";
        QVERIFY(files.savePassword("cobalto"));
        ChangePasswordWindow change(s, files, m_prompt);
        change.show();
        QVERIFY(QTest::qWaitForWindowActive(&change));
        change.first()->setFocus();
        // Empty: refused, nothing stored.
        QTest::keyClick(change.first(), Qt::Key_Return);
        QVERIFY(m_prompt.warnings.last().contains("não pode ficar vazia"));
        QCOMPARE(contents(files.path("cobalto.dat")), QByteArray("cobalto\r\n"));
        // Different: both cleared, the caret back in the first.
        QTest::keyClicks(change.first(), "um");
        QTest::keyClicks(change.second(), "dois");
        QTest::keyClick(change.second(), Qt::Key_Return);
        QCOMPARE(m_prompt.warnings.last(), QString("Senhas diferentes!!!"));
        QVERIFY(change.first()->text().isEmpty() && change.second()->text().isEmpty());
        QVERIFY(change.first()->hasFocus());
        change.close();

        PasswordWindow ask(s, m_prompt);
        ask.show();
        QVERIFY(QTest::qWaitForWindowActive(&ask));
        QLineEdit *field = ask.findChild<QLineEdit *>("Text1");
        QTest::keyClicks(field, "errada");
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(m_prompt.warnings.last(), QString("Senha Incorreta!!!"));
        QCOMPARE(field->selectedText(), QString("errada"));
        QTest::keyClicks(field, "cobalto"); // replaces the wrong one
        QCOMPARE(field->text(), QString("cobalto"));
        ask.close();
    }

    void panelTypesAreOneStopForTab()
    {
        SettingsFiles files(m_dir.path());
        SharedSettings s;
        s.panelType = 3;
        auto *dialog = new SettingsDialog(s, files, m_prompt);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QLineEdit *address = dialog->findChild<QLineEdit *>("Text1");
        address->setFocus();
        // Backwards from the address: the checked type, not the last one.
        QTest::keyClick(address, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), dialog->findChild<QRadioButton *>("Option4"));
        // An arrow checks the next type.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QVERIFY(dialog->findChild<QRadioButton *>("Option5")->isChecked());
        // Forwards it leaves the group for the address, then the port.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), address);
        QTest::keyClick(address, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("Text2"));
        dialog->close();
    }
};

QTEST_MAIN(TestSecondHour)
#include "tst_secondhour.moc"
