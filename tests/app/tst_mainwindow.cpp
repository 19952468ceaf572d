#include "documentwindow.h"
#include "editor/scriptedprompt.h"
#include "mainwindow.h"
#include "messageedit.h"
#include "statusbar.h"
#include "testfiles.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

namespace
{

QStringList visibleCaptions(const QVector<QAction *> &items)
{
    QStringList out;
    for (QAction *a : items) {
        if (a->isVisible()) out.append(a->text());
    }
    return out;
}

void writeConfig(const QString &folder, int panelType, int temperature)
{
    writeFile(
        folder + "/cobalto.cfg",
        QString(" 2\r\n 0\r\n 0\r\n %1\r\n %2\r\n").arg(panelType).arg(temperature).toLatin1());
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    SharedSettings m_settings;
    ScriptedPrompt m_prompt;
    std::unique_ptr<MainWindow> m_main;

    MainWindow &main() { return *m_main; }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        m_prompt = ScriptedPrompt();
        m_main = std::make_unique<MainWindow>(m_settings, m_dir.path(), &m_prompt);
    }

    void cleanup()
    {
        for (QMdiSubWindow *w : main().mdiArea()->subWindowList())
            qobject_cast<DocumentWindow *>(w->widget())->editor()->document()->setModified(false);
        m_main.reset();
    }

    void firstStartInAnEmptyFolder()
    {
        QTemporaryDir empty;
        SharedSettings s;
        MainWindow w(s, empty.path(), &m_prompt);
        w.load();
        for (const char *file : {"cobalto.cfg", "cobalto.dat", "usb232.dat", "qvrtip.dat"})
            QVERIFY(QFile::exists(empty.filePath(file)));
        QCOMPARE(w.statusPanels()->panelText(2), QString("Com1"));
        QCOMPARE(w.statusPanels()->panelText(3), versionText());
        QCOMPARE(w.statusPanels()->panelText(4), QString("End:0"));
        QCOMPARE(s.userEdit, qint16(1));
        QCOMPARE(w.windowTitle(), QString("Letreiro"));
    }

    void menusByPanelType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("temperature");
        QTest::addColumn<QStringList>("prefixos");
        QTest::addColumn<QStringList>("sufixos");
        QTest::addColumn<bool>("temperatura");
        const QStringList allSufixos{"Varre &Centro", "Varre &Esquerda", "Varre &4",
                                     "Varre &Baixo",  "Abre Cen&tro",    "Abre C&ima",
                                     "Abre &Direita", "&Rolagem",        "&Pisca"};
        const QStringList narrowPrefixos{"&Roda Cima", "Roda &4", "&Neve", "&Come",    "&Empurra",
                                         "&Salta",     "&Atira",  "A&bre", "&Display", "&Onda"};
        const QStringList widePrefixos{"&Roda Cima", "Roda &Baixo", "&Empurra", "&Mostra",
                                       "&Display"};
        const QStringList wideSufixos{"Varre &Centro", "Varre &Esquerda", "Varre &4",
                                      "Varre &Baixo",  "&Rolagem",        "&Pisca"};
        QStringList narrowTemp = allSufixos;
        narrowTemp.removeAll("Abre &Direita");
        QTest::newRow("12 characters") << 0 << 0 << narrowPrefixos << allSufixos << false;
        QTest::newRow("12 with temperature") << 0 << 1 << narrowPrefixos << narrowTemp << true;
        QTest::newRow("30 characters") << 2 << 0 << widePrefixos << wideSufixos << false;
        QTest::newRow("> 30 with temperature") << 6 << 1 << widePrefixos << wideSufixos << true;
    }

    void menusByPanelType()
    {
        QFETCH(int, type);
        QFETCH(int, temperature);
        QFETCH(QStringList, prefixos);
        QFETCH(QStringList, sufixos);
        QFETCH(bool, temperatura);
        writeConfig(m_dir.path(), type, temperature);
        main().load();
        MenuBarActions &m = main().menus();
        QCOMPARE(visibleCaptions(m.tagItems[tags::Menu::Prefixos]), prefixos);
        QCOMPARE(visibleCaptions(m.tagItems[tags::Menu::Sufixos]), sufixos);
        const auto &outros = m.tagItems[tags::Menu::Outros];
        QCOMPARE(outros[10]->isVisible(), temperatura);
        QVERIFY(!outros[9]->isVisible()); // "&Apaga Tela" is never shown
        for (QMenu *hidden : {m.mnucor, m.mnuprefixos, m.mnusufixos})
            QVERIFY(!hidden->menuAction()->isVisible());
        QCOMPARE(main().statusPanels()->panelText(2), QString("Com2"));
    }

    void documentsAreNumberedWithoutReuse()
    {
        for (int i = 1; i <= 3; ++i)
            QCOMPARE(main().LoadNewDoc()->caption(), QString("Documento %1").arg(i));
        main().mdiArea()->currentSubWindow()->close();
        QCOMPARE(main().LoadNewDoc()->caption(), QString("Documento 4"));
        QCOMPARE(main().activeEditor()->caption(), QString("Documento 4"));
    }

    void commandsWithoutAnEditorDoNothing()
    {
        MenuBarActions &m = main().menus();
        for (QAction *a : {m.mnuverde, m.mnuiris, m.mnunormal, m.mnuexp, m.mnucortar, m.mnucopiar,
                           m.mnucolar, m.mnusalva, m.mnusalvacomo, m.mnuimp})
            a->trigger();
        m.tagItems[tags::Menu::Prefixos][0]->trigger();
        QVERIFY(main().mdiArea()->subWindowList().isEmpty());
        QVERIFY(m_prompt.dialogs.isEmpty());
    }

    void tagMenusInsertIntoTheActiveEditor()
    {
        DocumentWindow *doc = main().LoadNewDoc();
        main().menus().tagItems[tags::Menu::Outros][2]->trigger(); // "&Hora"
        QCOMPARE(doc->editor()->richText().plainText(), QString("<Relogio____>"));
        main().menus().tagItems[tags::Menu::Display][1]->trigger(); // a hidden menu's command
        QCOMPARE(doc->editor()->richText().plainText(), QString("<Relogio____><Disp_.PeqL2>"));
        QVERIFY(!doc->saved());
    }

    void toolbar()
    {
        const QVector<QAction *> &b = main().toolbarButtons();
        QCOMPARE(b.size(), 29);
        for (int n : {4, 6, 10, 12, 13, 18, 19, 26, 27})
            QVERIFY(b[n - 1]->isSeparator());
        QStringList transmission;
        for (int n = 20; n <= 25; ++n)
            transmission.append(b[n - 1]->property("key").toString());
        QCOMPARE(transmission,
                 QStringList({"Para", "Apaga", "Inicia", "Transfere", "Hora", "Data"}));
        QCOMPARE(b[11 - 1]->toolTip(), QString("Simulação"));
        QCOMPARE(b[17 - 1]->toolTip(), QString("Arco Íris"));
        QVERIFY(!b[0]->icon().isNull());
        // Dispatch by key, case included.
        b[0]->trigger();
        QCOMPARE(main().mdiArea()->subWindowList().size(), 1);
        main().toolbarButtonClick("new");
        main().toolbarButtonClick("Nada");
        QCOMPARE(main().mdiArea()->subWindowList().size(), 1);
        QTest::keyClicks(main().activeEditor()->editor(), "abc");
        main().activeEditor()->editor()->selectAll();
        main().toolbarButtonClick("vermelho");
        QCOMPARE(main().activeEditor()->editor()->richText().at(1).format.colour,
                 ColourRef(0x0000FF));
    }

    void toolbarAndStatusBarCanBeHidden()
    {
        main().show();
        QVERIFY(QTest::qWaitForWindowExposed(&main()));
        main().menus().mnuferra->trigger();
        QVERIFY(!main().toolbar()->isVisible());
        main().menus().mnuferra->trigger();
        QVERIFY(main().toolbar()->isVisible());
        main().menus().mnustatus->trigger();
        QVERIFY(!main().statusPanels()->isVisible());
        QVERIFY(!main().menus().mnustatus->isChecked());
    }

    void openCancelledLeavesANewWindow()
    {
        main().menus().mnuabre->trigger();
        QCOMPARE(m_prompt.dialogs, QStringList{"Abrir|Arquivo de mensagem (*.msg)|*.msg"});
        QCOMPARE(main().activeEditor()->caption(), QString("Documento 1"));
        // Save as goes through its own dialog; cancelled, nothing changes.
        main().menus().mnusalvacomo->trigger();
        QCOMPARE(m_prompt.dialogs.last(),
                 QString("Salvar Como|Arquivo de Mensagens (*.msg)|*.msg"));
        QCOMPARE(main().activeEditor()->caption(), QString("Documento 1"));
    }

    void openSaveAndPrint()
    {
        DocumentWindow *doc = main().LoadNewDoc();
        QTest::keyClicks(doc->editor(), "Promo");
        const QString path = m_dir.filePath("promo.msg");
        m_prompt.files.enqueue(path);
        main().menus().mnusalva->trigger();
        QVERIFY(doc->saved());
        m_prompt.files.enqueue(path);
        main().menus().mnuabre->trigger();
        QCOMPARE(main().activeEditor()->caption(), QString("promo.msg"));
        QCOMPARE(main().activeEditor()->editor()->richText().plainText(), QString("Promo"));
        m_prompt.printTo = m_dir.filePath("promo.pdf");
        main().menus().mnuimp->trigger();
        QCOMPARE(m_prompt.dialogs.last(), QString("Imprimir|0"));
        QVERIFY(QFileInfo(m_prompt.printTo).size() > 0);
    }

    void closingAsksEveryEditorAndKeepsThePlacement()
    {
        main().load();
        main().show();
        main().move(144, 96);
        DocumentWindow *doc = main().LoadNewDoc();
        QTest::keyClicks(doc->editor(), "x");
        m_prompt.answers.enqueue(Prompt::Answer::Cancel);
        QVERIFY(!main().close());
        QCOMPARE(m_prompt.questions.size(), 1);
        m_prompt.answers.enqueue(Prompt::Answer::No);
        QVERIFY(main().close());
        QSettings store("Letreiro", "Letreiro");
        const int dpi = main().logicalDpiX();
        QCOMPARE(store.value("Settings/MainLeft").toString(),
                 QString::number(main().x() * 1440 / dpi));
        QVERIFY(store.value("Settings/MainWidth").toInt() > 0);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
