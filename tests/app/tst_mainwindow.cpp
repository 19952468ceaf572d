#include "mainwindowfixture.h"
#include "statusbar.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

namespace
{

QStringList visibleCaptions(const QVector<QAction *> &items)
{
    QStringList out;
    for (QAction *a : items)
        if (a->isVisible()) out.append(a->text());
    return out;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private:
    MainWindowFixture m_fx;

    MainWindow &main() { return *m_fx.window; }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // The real serial line: what a start without any port shows.
    void init() { m_fx.open(false); }

    void cleanup() { m_fx.close(); }

    void firstStartInAnEmptyFolder()
    {
        QTemporaryDir empty;
        Settings s;
        MainWindow w(s, empty.path(), &m_fx.prompt);
        w.load(SettingsFiles(empty.path()).loadAll(s));
        QCOMPARE(w.statusPanels()->panelText(2), QString("Com1"));
        QCOMPARE(w.statusPanels()->panelText(3), versionText());
        QCOMPARE(w.statusPanels()->panelText(4), QString("End:0"));
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
        m_fx.writeConfig(1, type, temperature);
        m_fx.reload();
        MenuBarActions &m = main().menus();
        QCOMPARE(visibleCaptions(m.tagItems[tags::Menu::Prefixos]), prefixos);
        QCOMPARE(visibleCaptions(m.tagItems[tags::Menu::Sufixos]), sufixos);
        const auto &outros = m.tagItems[tags::Menu::Outros];
        QCOMPARE(outros[10]->isVisible(), temperatura);
        QVERIFY(!outros[9]->isVisible()); // "&Apaga Tela" is never shown
        for (QMenu *hidden : {m.mnucor, m.mnuprefixos, m.mnusufixos})
            QVERIFY(!hidden->menuAction()->isVisible());
        QCOMPARE(main().statusPanels()->panelText(2), QString("Com1"));
    }

    void documentsAreNumberedWithoutReuse()
    {
        for (int i = 1; i <= 3; ++i)
            QCOMPARE(main().newDocument()->caption(), QString("Documento %1").arg(i));
        main().mdiArea()->currentSubWindow()->close();
        QCOMPARE(main().newDocument()->caption(), QString("Documento 4"));
        QCOMPARE(main().activeEditor()->caption(), QString("Documento 4"));
    }

    void commandsWithoutAnEditorDoNothing()
    {
        MenuBarActions &m = main().menus();
        for (QAction *a : {m.mnuverde, m.mnuiris, m.mnunormal, m.mnuexp, m.mnucortar, m.mnucopiar,
                           m.mnucolar, m.mnusalva, m.mnusalvacomo, m.mnuimp})
            a->trigger();
        m.tagItems[tags::Menu::Prefixos][0]->trigger();
        QVERIFY(main().mdiArea()->subWindowList().isEmpty() && m_fx.prompt.dialogs.isEmpty());
    }

    void tagMenusInsertIntoTheActiveEditor()
    {
        DocumentWindow *doc = main().newDocument();
        main().menus().tagItems[tags::Menu::Outros][2]->trigger(); // "&Hora"
        QCOMPARE(doc->editor()->richText().plainText(), QString("<Relogio____>"));
        main().menus().tagItems[tags::Menu::Display][1]->trigger(); // a hidden menu's command
        QCOMPARE(doc->editor()->richText().plainText(), QString("<Relogio____><Disp_.PeqL2>"));
        QVERIFY(!doc->saved());
    }

    void toolbar()
    {
        const QList<QAction *> b = main().toolbarButtons();
        QCOMPARE(b.size(), 29);
        QCOMPARE(main().findChild<QToolBar *>()->objectName(), QString("tbToolBar"));
        QVERIFY(main().findChild<QStatusBar *>("sbStatusBar"));
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
        // Each button is its menu's command: one action, one place that enables it.
        QCOMPARE(b[0], main().menus().mnunovo);
        QCOMPARE(b[22], main().menus().mnutransfere);
        QTest::mouseClick(main().findChild<QToolButton *>("tbNew"), Qt::LeftButton);
        QCOMPARE(main().mdiArea()->subWindowList().size(), 1);
        QTest::keyClicks(main().activeEditor()->editor(), "abc");
        main().activeEditor()->editor()->selectAll();
        QTest::mouseClick(main().findChild<QToolButton *>("tbvermelho"), Qt::LeftButton);
        QCOMPARE(main().activeEditor()->editor()->richText().at(1).format.colour,
                 ColourRef(0x0000FF));
        // The menu's other format commands, on the same selection.
        MenuBarActions &m = main().menus();
        const auto format = [&](int i) { return main().activeEditor()->editor()->richText().at(i).format; };
        m.mnuverde->trigger();
        QCOMPARE(format(0).colour, ColourRef(0x00FF00));
        m.mnularanja->trigger();
        QCOMPARE(format(0).colour, ColourRef(0x00FFFF));
        m.mnuiris->trigger();
        QCOMPARE(QSet<ColourRef>({format(0).colour, format(1).colour, format(2).colour}).size(), 3);
        m.mnuexp->trigger();
        QVERIFY(format(0).bold && format(2).bold);
        m.mnunormal->trigger();
        QVERIFY(!format(0).bold && !format(2).bold);
    }

    // "&Horizontal": one above the other, as wide as the area (none: nothing).
    void windowsOneAboveTheOther()
    {
        main().resize(800, 600);
        main().menus().mnuWindowTileHorizontal->trigger();
        main().newDocument();
        main().newDocument();
        main().menus().mnuWindowTileHorizontal->trigger();
        const auto windows = main().mdiArea()->subWindowList();
        const int width = main().mdiArea()->viewport()->width();
        QCOMPARE(windows[0]->geometry(), QRect(0, 0, width, windows[0]->height()));
        QCOMPARE(windows[1]->geometry(), QRect(0, windows[0]->height(), width, windows[0]->height()));
    }

    void theStatusBarCanBeHidden()
    {
        main().show();
        QVERIFY(QTest::qWaitForWindowExposed(&main()));
        // Its clock keeps time; the message's size goes with the last editor.
        StatusPanels *bar = main().statusPanels();
        bar->setPanelText(6, "--");
        QTRY_VERIFY_WITH_TIMEOUT(bar->panelText(6).contains(':'), 2500);
        DocumentWindow *doc = main().newDocument();
        doc->editor()->insertPlainText("abc");
        QTRY_VERIFY(!bar->messageSize().isEmpty());
        doc->editor()->document()->setModified(false);
        doc->close();
        QTRY_VERIFY(bar->messageSize().isEmpty());
        main().menus().mnustatus->trigger();
        QVERIFY(!main().statusPanels()->isVisible() && !main().menus().mnustatus->isChecked());
    }

    void openCancelledLeavesANewWindow()
    {
        main().menus().mnuabre->trigger();
        QCOMPARE(m_fx.prompt.dialogs, QStringList{"Abrir|Arquivo de mensagem (*.msg)|*.msg"});
        QCOMPARE(main().activeEditor()->caption(), QString("Documento 1"));
        // Save as goes through its own dialog; cancelled, nothing changes.
        main().menus().mnusalvacomo->trigger();
        QCOMPARE(m_fx.prompt.dialogs.last(),
                 QString("Salvar Como|Arquivo de Mensagens (*.msg)|*.msg"));
        QCOMPARE(main().activeEditor()->caption(), QString("Documento 1"));
    }

    void openSaveAndPrint()
    {
        DocumentWindow *doc = main().newDocument();
        QTest::keyClicks(doc->editor(), "Promo");
        const QString path = m_fx.dir.filePath("promo.msg");
        m_fx.prompt.files.enqueue(path);
        main().menus().mnusalva->trigger();
        QVERIFY(doc->saved());
        m_fx.prompt.files.enqueue(path);
        main().menus().mnuabre->trigger();
        QCOMPARE(main().activeEditor()->caption(), QString("promo.msg"));
        QCOMPARE(main().activeEditor()->editor()->richText().plainText(), QString("Promo"));
        m_fx.prompt.printTo = m_fx.dir.filePath("promo.pdf");
        main().menus().mnuimp->trigger();
        QCOMPARE(m_fx.prompt.dialogs.last(), QString("Imprimir|0"));
        QVERIFY(QFileInfo(m_fx.prompt.printTo).size() > 0);
    }

    void closingAsksEveryEditorAndKeepsThePlacement()
    {
        m_fx.reload();
        main().show();
        main().move(144, 96);
        QSettings("Letreiro", "Letreiro").remove("Settings"); // written anew at the close
        QTest::keyClicks(main().newDocument()->editor(), "x");
        m_fx.prompt.answers.enqueue(Prompt::Answer::Cancel);
        QVERIFY(!main().close());
        QCOMPARE(m_fx.prompt.questions.size(), 1);
        m_fx.prompt.answers.enqueue(Prompt::Answer::No);
        main().menus().mnuFileExit->trigger(); // "Sai&r" closes as the close box does
        QVERIFY(!main().isVisible());
        QSettings store("Letreiro", "Letreiro");
        const int dpi = main().logicalDpiX();
        QCOMPARE(store.value("Settings/MainLeft").toString(),
                 QString::number(main().x() * 1440 / dpi));
        QCOMPARE(store.value("Settings/MainTop").toString(), QString::number(main().y() * 1440 / dpi));
        QVERIFY(store.contains("Settings/MainWidth") && store.contains("Settings/MainHeight"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
