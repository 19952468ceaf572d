#include "aboutwindows.h"
#include "appcontroller.h"
#include "documentwindow.h"
#include "editor/scriptedprompt.h"
#include "fakepanelport.h"
#include "mainwindow.h"
#include "messageedit.h"
#include "passwordwindows.h"
#include "settingsdialog.h"
#include "testfiles.h"
#include "tipswindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <optional>

namespace
{

template <typename T> T *topLevel(const char *name)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name) && w->isVisible()) return qobject_cast<T *>(w);
    return nullptr;
}

void typeInto(QWidget *w, const QString &text)
{
    w->setFocus();
    QTest::keyClicks(w, text);
}

} // namespace

class TestSettingsCycle : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::optional<SettingsFiles> m_files; // the ones in m_dir
    ScriptedPrompt m_prompt;
    std::unique_ptr<AppController> m_app;
    PasswordWindow *m_password = nullptr;
    SettingsDialog *m_dialog = nullptr;

    AppController &app() { return *m_app; }
    QString file(const char *name) { return m_dir->filePath(name); }

    void closeForSettings()
    {
        app().mainWindow()->menus().mnuconfig->trigger();
        QTRY_VERIFY((m_password = topLevel<PasswordWindow>("frmsenha")));
        QTRY_VERIFY(!app().mainWindow());
    }
    void awaitSettings() { QTRY_VERIFY((m_dialog = topLevel<SettingsDialog>("menuportaserial"))); }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_files.emplace(m_dir->path());
        m_prompt = ScriptedPrompt();
        m_app = std::make_unique<AppController>(m_dir->path(), QString(), &m_prompt,
                                                [] { return new FakePanelPort; });
        app().showMain();
    }

    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<QDialog *>(w)) w->deleteLater();
        m_app.reset();
        QTest::qWait(1);
    }

    void firstStartCreatesTheFourFiles()
    {
        // Their bytes are tst_settingsfiles'; here, that the program makes them.
        for (const char *name : {"cobalto.cfg", "cobalto.dat", "usb232.dat", "qvrtip.dat"})
            QVERIFY(QFile::exists(file(name)));
        // The port opened at the first activation, so the tips came up once.
        QTRY_COMPARE(m_prompt.dialogs, QStringList{"frmdica"});
        app().mainWindow()->activatePort();
        QCOMPARE(m_prompt.dialogs, QStringList{"frmdica"});
        app().mainWindow()->menus().mnudica->trigger(); // always shown by "D&ica"
        QCOMPARE(m_prompt.dialogs.size(), 2);
    }

    void aMissingTipsFileComesFromTheShippedOne()
    {
        QTemporaryDir other;
        SettingsFiles files(other.path());
        files.setTipsTemplate(QStringLiteral(LETREIRO_SOURCE_DIR "/data/qvrtip.dat"));
        Settings s;
        QVERIFY(files.loadTips(s, SettingsFiles::Missing::Create));
        QVERIFY(s.tipTexts[10].size() > 10 && s.tipTexts[1].startsWith("Para inserir um efeito"));
        QVERIFY(QFile::exists(other.filePath("qvrtip.dat")));
    }

    void theWholeCycle()
    {
        closeForSettings();
        QCOMPARE(m_password->windowTitle(), QString("Senha de Acesso."));
        m_password->field()->setText("cobalto");
        m_password->findChild<QPushButton *>("Command1")->click();

        awaitSettings();
        QVERIFY(m_dialog->option(1)->isChecked());
        QCOMPARE(m_dialog->addressField()->text(), QString("0"));
        QCOMPARE(m_dialog->portField()->text(), QString("1"));
        m_dialog->option(7)->setChecked(true); // "> 30 Caracteres"
        m_dialog->addressField()->setText("17");
        m_dialog->portField()->setText("3");
        m_dialog->usbAdapter()->setChecked(true);
        m_dialog->temperature()->setChecked(true);
        m_dialog->findChild<QPushButton *>("Command2")->click();

        QCOMPARE(contents(file("cobalto.cfg")), QByteArray(" 3\r\n 17\r\n 0\r\n 6\r\n 1\r\n"));
        QCOMPARE(contents(file("usb232.dat")), QByteArray("1\r\n"));
        // The main window is back, loaded anew with the new panel's menus.
        QTRY_VERIFY(app().mainWindow());
        MainWindow *main = app().mainWindow();
        QVERIFY(!main->menus().tagItems[tags::Menu::Prefixos][3]->isVisible()); // "&Neve"
        QVERIFY(main->menus().tagItems[tags::Menu::Outros][10]->isVisible());   // "&Temperatura"
    }

    void cancelWritesNothingAndTheMasterPasswordOpens()
    {
        writeFile(file("cobalto.dat"), "secreta\r\n");
        app().reloadSettings();
        const QByteArray cfg = contents(file("cobalto.cfg"));
        closeForSettings();
        m_password->field()->setText("Ventura Solaris");
        m_password->check();
        awaitSettings();
        m_dialog->option(3)->setChecked(true);
        m_dialog->close(); // the close box is "Cancelar"
        QTRY_VERIFY(app().mainWindow());
        QCOMPARE(contents(file("cobalto.cfg")), cfg);
    }

    void thePasswordWindowsCloseBoxBringsTheMainWindowBack()
    {
        closeForSettings();
        m_password->close();
        QTRY_VERIFY(app().mainWindow());
        QVERIFY(app().mainWindow()->isVisible());
    }

    void anEditorThatRefusesCallsTheCycleOff()
    {
        QTest::keyClicks(app().mainWindow()->newDocument()->editor(), "x");
        m_prompt.answers.enqueue(Prompt::Answer::Cancel);
        app().mainWindow()->menus().mnuconfig->trigger();
        QVERIFY(app().mainWindow()->isVisible() && !topLevel<PasswordWindow>("frmsenha"));
        // The next close ends the program rather than asking for the password.
        QSignalSpy finished(&app(), &AppController::finished);
        m_prompt.answers.enqueue(Prompt::Answer::No);
        app().mainWindow()->close();
        QCOMPARE(finished.size(), 1);
    }

    void changingThePassword()
    {
        ChangePasswordWindow change(*m_files, m_prompt);
        change.first()->setText(" senha ");
        change.second()->setText(" senha ");
        change.ok();
        QCOMPARE(change.result(), int(QDialog::Accepted)); // and closed
        QCOMPARE(m_prompt.messages.last(), QString("Senha Alterada!!!"));
        QCOMPARE(contents(file("cobalto.dat")), QByteArray(" senha \r\n"));

        // Stored nowhere: not "Senha Alterada!!!", and the old one stays.
        SettingsFiles nowhere("/nonexistent-letreiro");
        ChangePasswordWindow failing(nowhere, m_prompt);
        failing.first()->setText("x");
        failing.second()->setText("x");
        failing.ok();
        QVERIFY(m_prompt.messages.last().startsWith("A senha não foi alterada.") && !failing.result());
        QVERIFY(failing.first()->hasSelectedText()); // ready to be typed again
        QCOMPARE(contents(file("cobalto.dat")), QByteArray(" senha \r\n"));
    }

    void addressAndPortRules()
    {
        Settings s;
        s.portNumber = 2;
        SettingsDialog dialog(s, *m_files, m_prompt);
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QLineEdit *address = dialog.addressField(), *port = dialog.portField();
        address->clear();
        typeInto(address, "4a5");
        QCOMPARE(address->text(), QString("45"));
        port->setFocus(); // leaving the field
        QTRY_COMPARE(address->text(), QString("0"));
        address->clear();
        typeInto(address, "31");
        port->setFocus();
        QTRY_COMPARE(address->text(), QString("31"));
        port->clear();
        typeInto(port, "0");
        QCOMPARE(port->text(), QString());
        typeInto(port, "79");
        QCOMPARE(port->text(), QString("7"));
        port->clear();
        address->setFocus();
        QTRY_COMPARE(port->text(), QString("1"));
        // Emptied, or out of range, and OK by Enter without leaving the
        // field: the rules hold.
        port->setFocus();
        port->clear();
        address->setText("45");
        QTest::keyClick(port, Qt::Key_Return);
        QVERIFY(!dialog.isVisible()); // closed at once
        QCOMPARE(contents(file("cobalto.cfg")).left(4), QByteArray(" 1\r\n"));
        QCOMPARE(address->text(), QString("0"));
    }

    void enterInAFieldMeansOk_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("presses");
        for (const char *f : {"Text1", "Text2"})
            for (int n : {1, 2})
                QTest::newRow(qPrintable(QStringLiteral("%1 x%2").arg(f).arg(n))) << f << n;
    }

    void enterInAFieldMeansOk()
    {
        QFETCH(QString, field);
        QFETCH(int, presses);
        const QByteArray password = contents(file("cobalto.dat"));
        closeForSettings();
        m_password->field()->setText("cobalto");
        QTest::keyClick(m_password->field(), Qt::Key_Return);
        awaitSettings();
        m_dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_dialog));
        m_dialog->findChild<QLineEdit *>(field)->setFocus();
        // Should "Alterar" open its window, close it and remember that.
        bool changeOpened = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (auto *change = topLevel<QDialog>("frmaltsenha")) {
                changeOpened = true;
                change->reject();
            }
        });
        watch.start(50);
        for (int i = 0; i < presses; ++i) {
            if (QWidget *focus = QApplication::focusWidget())
                QTest::keyClick(focus, Qt::Key_Return);
            QApplication::processEvents();
        }
        // OK closed the dialog and wrote the settings; the password is as
        // it was, and nothing asked for a new one.
        QTRY_VERIFY(app().mainWindow());
        QVERIFY(!changeOpened);
        QCOMPARE(contents(file("cobalto.dat")), password);
        QCOMPARE(contents(file("cobalto.cfg")), QByteArray(" 1\r\n 0\r\n 0\r\n 0\r\n 0\r\n"));
        QVERIFY(!m_prompt.messages.contains("Senha Alterada!!!"));
    }

    void aPasswordOutsideTheCodePageIsRefused()
    {
        const QByteArray before = contents(file("cobalto.dat"));
        ChangePasswordWindow change(*m_files, m_prompt);
        change.first()->setText(QString::fromUtf8("łódź"));
        change.second()->setText(QString::fromUtf8("łódź"));
        change.ok();
        QVERIFY(m_prompt.messages.last().startsWith("A senha não foi alterada."));
        // The refusal does not show the typed password to whoever looks on.
        QVERIFY(!m_prompt.messages.last().contains(QString::fromUtf8("ł")));
        QCOMPARE(contents(file("cobalto.dat")), before);
    }

    // The settings' parts each have their own place in the window.
    void theSettingsShowAllTheyHold()
    {
        Settings settings;
        SettingsDialog dialog(settings, *m_files, m_prompt);
        dialog.show();
        QList<QWidget *> parts;
        for (QWidget *w : dialog.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            if (w->isVisible()) parts << w;
        QVERIFY(parts.size() >= 8);
        for (int i = 0; i < parts.size(); ++i) {
            QVERIFY(dialog.rect().contains(parts[i]->geometry()));
            for (int j = i + 1; j < parts.size(); ++j)
                QVERIFY2(!parts[i]->geometry().intersects(parts[j]->geometry()),
                         qPrintable(parts[i]->objectName() + " " + parts[j]->objectName()));
        }
    }

    void handEditedValuesSurviveOk()
    {
        writeFile(file("cobalto.cfg"), " 12\r\n 45\r\n 0\r\n 0\r\n 0\r\n");
        Settings s;
        QVERIFY(m_files->loadConfig(s, SettingsFiles::Missing::Skip));
        SettingsDialog dialog(s, *m_files, m_prompt);
        dialog.show();
        QCOMPARE(dialog.portField()->text(), QString("12"));
        QCOMPARE(dialog.addressField()->text(), QString("45"));
        // Passing through the fields without typing changes nothing.
        dialog.addressField()->setFocus();
        dialog.portField()->setFocus();
        dialog.findChild<QPushButton *>("Command2")->click();
        QCOMPARE(contents(file("cobalto.cfg")), QByteArray(" 12\r\n 45\r\n 0\r\n 0\r\n 0\r\n"));
    }

    void filesGivenAtStartOpenInTheirOwnWindows()
    {
        QTemporaryDir dir;
        for (const char *name : {"a.msg", "b.msg"})
            writeFile(dir.filePath(name), QByteArray("{\\rtf1 ") + name + "}");
        ScriptedPrompt prompt;
        AppController started(dir.path(), QString(), &prompt, [] { return new FakePanelPort; });
        started.openAtStart({dir.filePath("a.msg"), dir.filePath("b.msg"), dir.filePath("c.msg")});
        started.start(0);
        QTRY_VERIFY(started.mainWindow());
        // A file that cannot be opened says why, as "&Abre" does, and
        // leaves no empty window behind.
        QTRY_VERIFY(!prompt.messages.isEmpty() && prompt.messages.last().contains("não existe"));
        QStringList opened; // each window's caption and text
        for (QMdiSubWindow *w : started.mainWindow()->mdiArea()->subWindowList()) {
            auto *doc = qobject_cast<DocumentWindow *>(w->widget());
            opened.append(doc->caption() + ": " + doc->editor()->toPlainText());
            doc->editor()->document()->setModified(false);
        }
        QCOMPARE(opened, QStringList({"a.msg: a.msg", "b.msg: b.msg"}));
    }

    void tipsNavigation_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("reachable");
        QTest::newRow("none") << QByteArray("0\r\n") << 1;
        QTest::newRow("three") << QByteArray("3\r\nUm\r\nDois\r\nTres\r\n") << 3;
        QTest::newRow("an empty line ends them")
            << QByteArray("4\r\nUm\r\n\r\nTres\r\nQuatro\r\n") << 1;
        QByteArray hundred("100\r\n");
        for (int i = 1; i <= 100; ++i)
            hundred += "Dica " + QByteArray::number(i) + "\r\n";
        QTest::newRow("a hundred") << hundred << 100;
    }

    void tipsNavigation()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, reachable);
        writeFile(m_files->path("qvrtip.dat"), file);
        Settings s;
        m_files->loadTips(s, SettingsFiles::Missing::Skip);
        TipsWindow tips(s, *m_files, m_prompt);
        QVERIFY(tips.findChild<QPushButton *>("cmdant") == tips.previousButton() &&
                tips.findChild<QPushButton *>("cmdprox") == tips.nextButton());
        QVERIFY(!tips.previousButton()->isEnabled());
        QCOMPARE(tips.nextButton()->isEnabled(), reachable > 1);
        int shown = 1;
        while (tips.nextButton()->isEnabled()) {
            tips.next();
            ++shown;
            QVERIFY(tips.previousButton()->isEnabled());
        }
        QCOMPARE(shown, reachable);
        if (reachable == 1 && file.startsWith("0"))
            QCOMPARE(tips.tipShown(), QString("Arquivo de dicas não encontrado."));
        while (tips.previousButton()->isEnabled())
            tips.previous();
        QCOMPARE(tips.tipShown(), s.tipTexts[1]);
        QVERIFY(tips.nextButton()->isEnabled() == (reachable > 1));
    }

    void closingTheTipsStoresTheChoice()
    {
        m_prompt.onDialog = [](QDialog &tips) {
            tips.findChild<QCheckBox *>("Check1")->setChecked(true);
            tips.reject(); // the close box
        };
        app().mainWindow()->menus().mnudica->trigger();
        QCOMPARE(contents(file("cobalto.cfg")), QByteArray(" 1\r\n 0\r\n 1\r\n 0\r\n 0\r\n"));
        QCOMPARE(app().settings().tipsHidden, qint16(1));
    }

    void splashAndAbout()
    {
        SplashWindow splash;
        QCOMPARE(splash.findChild<QLabel *>("lblVersion")->text(), "Versão " + product::version());
#ifdef Q_OS_LINUX
        QCOMPARE(splash.findChild<QLabel *>("lblPlatform")->text(), QString("Linux"));
#endif
        AboutWindow about(m_prompt);
        QCOMPARE(about.findChild<QLabel *>("lblVersion")->text(), "Versão " + product::version());
        QVERIFY(about.findChild<QLabel *>("lblTitle")->font().bold()); // the name stands out
        // Both show the program's picture.
        for (const QWidget *w : {static_cast<QWidget *>(&splash), static_cast<QWidget *>(&about)}) {
            const auto *picture = w->findChild<QLabel *>("Picture1");
            QVERIFY(picture && !picture->pixmap().isNull());
        }
        // In Portuguese, as everything the operator reads.
        QCOMPARE(about.findChild<QPushButton *>("cmdSysInfo")->text(),
                 QString("&Informações do Sistema..."));
#ifndef Q_OS_WIN
        about.findChild<QPushButton *>("cmdSysInfo")->click();
        QVERIFY(m_prompt.messages.last().startsWith("Sistema: "));
        QVERIFY(m_prompt.messages.last().contains("\nQt: 6."));
#endif
    }
};

QTEST_MAIN(TestSettingsCycle)
#include "tst_settingscycle.moc"
