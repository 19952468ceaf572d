// An operator's second hour: what a desktop program is expected to do
// (shortcuts, undo, help, recent files, drops, a changed mark), and the
// faults met on the way, each driven by real events.
#include "frame.h"
#include "helpwindow.h"
#include "mainwindowfixture.h"
#include "passwordwindows.h"
#include "recentfiles.h"
#include "settingsdialog.h"
#include "statusbar.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QtTest>

class TestSecondHour : public QObject
{
    Q_OBJECT
private:
    MainWindowFixture m_fx;

    MainWindow &main() { return *m_fx.window; }

    void start(int panelType = 0)
    {
        m_fx.writeConfig(1, panelType);
        m_fx.open();
        main().show();
        QVERIFY(QTest::qWaitForWindowActive(m_fx.window.get()));
        main().activatePort();
    }

    QString messageFile(const QString &name, const QByteArray &text)
    {
        const QString path = m_fx.dir.filePath(name);
        writeFile(path, "{\\rtf1 " + text + "}");
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(QStringLiteral("Letreiro"), QStringLiteral("Letreiro")).clear();
    }

    void cleanup() { m_fx.close(); }

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
        // F1: the guide, in Portuguese, shipped with the program.
        QTest::keyClick(&main(), Qt::Key_F1);
        auto *help = main().findChild<HelpWindow *>();
        QVERIFY(help && help->isVisible());
        QCOMPARE(help->windowTitle(), QString("Ajuda"));
        QVERIFY(help->browser()->toPlainText().contains("Porta de Comunicação não disponível"));
        help->close();
        // "&Janela" marks a changed message as its caption does.
        main().newDocument();
        main().menus().mnuWindow->aboutToShow();
        const QList<QAction *> items = main().menus().mnuWindow->actions();
        QCOMPARE(items[items.size() - 2]->text(), QString("&1 Documento 1*"));
        QCOMPARE(items.last()->text(), QString("&2 Documento 2"));
        // Ctrl+Tab and Ctrl+Shift+Tab go round the messages.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(main().activeEditor(), doc);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab,
                        Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(main().activeEditor()->caption(), QString("Documento 2"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F4, Qt::ControlModifier);
        QCOMPARE(main().activeEditor(), doc);
        // Ctrl+F4 closes the message, asking first when it has changes.
        m_fx.prompt.answers.enqueue(Prompt::Answer::No);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F4, Qt::ControlModifier);
        QTRY_VERIFY(main().mdiArea()->subWindowList().isEmpty());
        QCOMPARE(m_fx.prompt.questions.size(), 1);
    }

    // The first save offers the caption as the name, in the folder last
    // used, or else in the user's own folders, never the program's.
    void theFirstSaveOffersANameAndAFolder()
    {
        start();
        QTemporaryDir last;
        recentfiles::add(QDir(last.path()).filePath("antiga.msg"));
        main().newDocument();
        main().menus().mnusalva->trigger();
        QCOMPARE(m_fx.prompt.folders.last(), QDir(last.path()).filePath("Documento 1.msg"));
        last.remove();
        main().menus().mnusalvacomo->trigger();
        QVERIFY(m_fx.prompt.folders.last().startsWith(QDir::homePath() + '/'));
        QVERIFY(m_fx.prompt.folders.last().endsWith("/Documento 1.msg"));
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
        QVERIFY(main().menus().recentFiles[1]->isVisible() && !main().menus().recentFiles[2]->isVisible());
        // The dialogs start where the last file was.
        m_fx.prompt.files.enqueue(QString());
        main().menus().mnuabre->trigger();
        QCOMPARE(m_fx.prompt.folders.last(), m_fx.dir.path());
        // A file that is gone leaves the list; one that cannot be read
        // leaves no empty window behind.
        QFile::remove(a);
        const int windows = int(main().mdiArea()->subWindowList().size());
        main().menus().mnuFile->aboutToShow();
        QVERIFY(!main().menus().recentFiles[1]->isVisible());
        m_fx.prompt.files.enqueue(a);
        main().menus().mnuabre->trigger();
        QCOMPARE(int(main().mdiArea()->subWindowList().size()), windows);
        QVERIFY(m_fx.prompt.warnings.last().contains("não existe"));
        // Dropped on the window, or on a message: opened, not pasted.
        const QString c = messageFile("c.msg", "C");
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(c)});
        mime.setText(QUrl::fromLocalFile(c).toString());
        QVERIFY(!main().activeEditor()->editor()->canPaste() ||
                main().activeEditor()->editor()->toPlainText() == "B");
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&main(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&main(), &drop);
        QCOMPARE(main().activeEditor()->caption(), QString("c.msg"));
        QCOMPARE(main().activeEditor()->editor()->toPlainText(), QString("C"));
        main().menus().mnuFile->aboutToShow();
        QCOMPARE(main().menus().recentFiles[0]->text(), QString("&1 c.msg"));
        // Any other file is no message: not taken.
        QMimeData other;
        other.setUrls({QUrl::fromLocalFile(m_fx.dir.filePath("notas.txt"))});
        QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &other, Qt::LeftButton,
                                Qt::NoModifier);
        QApplication::sendEvent(&main(), &refused);
        QVERIFY(!refused.isAccepted());
    }

    void theMessageSizeAndACutAskedFor()
    {
        start(0);
        DocumentWindow *doc = main().newDocument();
        doc->editor()->insertPlainText(QString(7600, 'x'));
        // Said as it is typed, in words and in a warning colour.
        QTRY_COMPARE(main().statusPanels()->messageSize(),
                     QString("7.601 / 7.500: não cabe no painel"));
        auto *size = main().statusPanels()->findChild<QLabel *>("sbTamanho");
        QVERIFY(size->toolTip().contains("os últimos 101 caracteres codificados serão cortados"));
        QVERIFY(size->styleSheet().contains("color"));
        m_fx.prompt.answers.enqueue(Prompt::Answer::No);
        main().menus().mnutransfere->trigger();
        QVERIFY(m_fx.prompt.questions.last().contains("os últimos 101 serão cortados"));
        QVERIFY(m_fx.port->line.written.isEmpty());
        m_fx.prompt.answers.enqueue(Prompt::Answer::Yes);
        main().menus().mnutransfere->trigger();
        QCOMPARE(m_fx.port->line.written.size(), frame::kHeaderSize + frame::kMaxData + 1);
        doc->editor()->undo();
        QTRY_VERIFY(!main().statusPanels()->messageSize().contains("não cabe"));
        QVERIFY(size->styleSheet().isEmpty());
    }

    // Emptied, a message is typed on in its colour, never in black.
    void anEmptiedMessageKeepsItsColour()
    {
        MessageEdit e;
        e.show();
        QTest::keyClicks(&e, "abc");
        QTest::keyClick(&e, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(&e, Qt::Key_Delete);
        QTest::keyClicks(&e, "x");
        QCOMPARE(e.richText().at(0).format.colour, rgbColour(255, 0, 0));
    }

    void windowsWhereTheOperatorCanUseThem()
    {
        start(7);
        main().newDocument();
        main().menus().mnudebug->trigger();
        QMdiSubWindow *debug = main().mdiArea()->currentSubWindow();
        const QRect area = main().mdiArea()->viewport()->rect();
        QVERIFY2(area.contains(debug->geometry()), "the debug window sticks out");
        // Errors wear the warning icon.
        m_fx.port->openOk = false;
        m_fx.reload();
        main().activatePort();
        QCOMPARE(m_fx.prompt.warnings, QStringList{"Porta de Comunicação não disponível!!!"});
    }

    void passwordsByKeyboard()
    {
        SettingsFiles files(m_fx.dir.path());
        Settings s;
        s.accessPassword = "cobalto";
        QVERIFY(files.savePassword("cobalto"));
        ChangePasswordWindow change(files, m_fx.prompt);
        change.show();
        QVERIFY(QTest::qWaitForWindowActive(&change));
        change.first()->setFocus();
        // Empty: refused, nothing stored.
        QTest::keyClick(change.first(), Qt::Key_Return);
        QVERIFY(m_fx.prompt.warnings.last().contains("não pode ficar vazia"));
        QCOMPARE(contents(files.path("cobalto.dat")), QByteArray("cobalto\r\n"));
        // Different: both cleared, the caret back in the first.
        QTest::keyClicks(change.first(), "um");
        QTest::keyClicks(change.second(), "dois");
        QTest::keyClick(change.second(), Qt::Key_Return);
        QCOMPARE(m_fx.prompt.warnings.last(), QString("Senhas diferentes!!!"));
        QVERIFY(change.first()->text().isEmpty() && change.second()->text().isEmpty());
        QCOMPARE(contents(files.path("cobalto.dat")), QByteArray("cobalto\r\n"));
        QVERIFY(change.first()->hasFocus());
        change.close();

        PasswordWindow ask(s, m_fx.prompt);
        ask.show();
        QVERIFY(QTest::qWaitForWindowActive(&ask));
        QLineEdit *field = ask.findChild<QLineEdit *>("Text1");
        QTest::keyClicks(field, "errada");
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(m_fx.prompt.warnings.last(), QString("Senha Incorreta!!!"));
        QCOMPARE(field->selectedText(), QString("errada"));
        QTest::keyClicks(field, "cobalto"); // replaces the wrong one
        QCOMPARE(field->text(), QString("cobalto"));
    }

    void panelTypesAreOneStopForTab()
    {
        SettingsFiles files(m_fx.dir.path());
        Settings s;
        s.panelType = 3;
        auto *dialog = new SettingsDialog(s, files, m_fx.prompt);
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
