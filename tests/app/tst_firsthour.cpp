// A new operator's first hour at the keyboard: every menu reachable at the
// first-start size and by its Alt letter, windows that keep their size and
// open readable, the simulation stopped from the keyboard, and Qt's own
// texts in Portuguese.
#include "debugwindow.h"
#include "mainwindowfixture.h"
#include "portuguese.h"
#include "simulationwindow.h"
#include "statusbar.h"
#include "tags.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QToolBar>
#include <QtTest>

class TestFirstHour : public QObject
{
    Q_OBJECT
private:
    MainWindowFixture m_fx;

    MainWindow &main() { return *m_fx.window; }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(QStringLiteral("Letreiro"), QStringLiteral("Letreiro")).clear(); // first start
    }

    void init()
    {
        m_fx.open();
        main().show();
        QVERIFY(QTest::qWaitForWindowExposed(m_fx.window.get()));
    }

    void cleanup() { m_fx.close(); }

    void altLettersOpenTheirMenus_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("menu");
        QTest::newRow("Alt+P") << int(Qt::Key_P) << "mnuprefi";
        QTest::newRow("Alt+S") << int(Qt::Key_S) << "mnusufix";
        QTest::newRow("Alt+C") << int(Qt::Key_C) << "mnucar";
        QTest::newRow("Alt+T") << int(Qt::Key_T) << "mnutrans";
    }

    void altLettersOpenTheirMenus()
    {
        QFETCH(int, key);
        QFETCH(QString, menu);
        main().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_fx.window.get()));
        QTest::keyClick(m_fx.window.get(), Qt::Key(key), Qt::AltModifier);
        QTRY_VERIFY(QApplication::activePopupWidget());
        QCOMPARE(QApplication::activePopupWidget()->objectName(), menu);
        QApplication::activePopupWidget()->close();
    }

    void everyMenuAndButtonShowsAtFirstStart()
    {
        QVERIFY(main().menuBar()->sizeHint().width() <= main().menuBar()->width());
        auto *toolbar = main().findChild<QToolBar *>();
        for (QAction *a : toolbar->actions()) {
            if (a->isSeparator()) continue;
            QWidget *button = toolbar->widgetForAction(a);
            QVERIFY2(button && button->isVisible() && !a->icon().pixmap(16).isNull(),
                     qPrintable(a->objectName()));
        }
        QStringList menus; // each menu in its groups, as an operator first sees it
        for (QAction *m : main().menuBar()->actions()) {
            QStringList items;
            for (QAction *a : m->menu()->actions())
                if (a->isVisible()) items << (a->isSeparator() ? QString("-") : a->text());
            menus << m->text() + ": " + items.join('|');
        }
        QCOMPARE(menus,
                 QStringList({
                     "&Arquivo: &Novo|&Abre|&Salvar|Salvar &Como|-|&Imprimir|-|C&onfigurar|-|Sai&r",
                     "&Editar: &Desfazer|&Refazer|-|&Recortar|&Copiar|C&olar",
                     "&Visualizar: &Simulação|&Ferramentas|&Status",
                     "&Prefixos: &Roda Cima|Roda &4|&Neve|&Come|&Empurra|&Salta|&Atira|A&bre|"
                     "&Display|&Onda",
                     "&Sufixos: Varre &Centro|Varre &Esquerda|Varre &4|Varre &Baixo|Abre Cen&tro|"
                     "Abre C&ima|Abre &Direita|&Rolagem|&Pisca",
                     "&Outros: &Pausa|&Data|&Hora|Velocidade &1|Velocidade &2|Velocidade &3|"
                     "Velocidade &4|Velocidade &5|Velocidade &6",
                     "&Caracter: &Normal|&Expandido",
                     "&Transmissão: &Para|&Apaga|&Inicia|&Transfere|Acerta &Hora|Acerta &Data",
                     "&Janela: D&ica|&Debug|Aj&uda|Sob&re|-|&Cascata|&Horizontal|&Vertical|-",
                 }));
        // The window never becomes narrower than its menu bar needs.
        main().resize(200, main().height());
        QVERIFY(main().menuBar()->sizeHint().width() <= main().menuBar()->width());
    }

    void statusTextsNeverResizeTheWindow()
    {
        const QSize before = main().size();
        for (const QString &text :
             {QStringLiteral("Transmissão bem sucedida."), QStringLiteral("Falha na transmissão."),
              QStringLiteral("Transmissão global bem sucedida."),
              QStringLiteral("/dev/ttyUSB0: a ligação foi interrompida e uma razão muito longa "
                             "que não cabe na barra de status de jeito nenhum")}) {
            main().statusPanels()->setPanelText(1, text);
            QApplication::processEvents();
            QCOMPARE(main().size(), before);
            auto *panel = main().statusPanels()->findChild<QLabel *>("sbPanel1");
            QCOMPARE(panel->toolTip(), text);
            // Nothing cut: a long reason wraps, and the bar is tall enough.
            QTRY_VERIFY(panel->height() >= panel->heightForWidth(panel->width()));
        }
    }

    void theDebugWindowOpensReadable()
    {
        main().resize(800, 600);
        main().menus().mnudebug->trigger();
        const QMdiSubWindow *sub = main().mdiArea()->currentSubWindow();
        QVERIFY(sub && qobject_cast<DebugWindow *>(sub->widget()));
        // The trace's columns line up: the form's fixed-pitch font, at its size.
        const QFont traceFont = sub->widget()->findChild<QPlainTextEdit *>("Text1")->font();
        QCOMPARE(traceFont.family(), QString("Courier New"));
        QCOMPARE(traceFont.pointSize(), 10);
        QVERIFY2(sub->width() >= 480 && sub->height() >= 320,
                 qPrintable(QStringLiteral("%1x%2").arg(sub->width()).arg(sub->height())));
        // Asked for again, the one window comes forward.
        main().newDocument();
        main().menus().mnudebug->trigger();
        QCOMPARE(main().mdiArea()->currentSubWindow(), sub);
        QCOMPARE(main().mdiArea()->subWindowList().size(), 2);
    }

    void theToolsTickFollowsTheToolbar()
    {
        auto *toolbar = main().findChild<QToolBar *>();
        toolbar->toggleViewAction()->trigger(); // its own context menu's entry
        QVERIFY(!toolbar->isVisible() && !main().menus().mnuferra->isChecked());
        main().menus().mnuferra->trigger();
        QVERIFY(toolbar->isVisible() && main().menus().mnuferra->isChecked());
    }

    void theWindowListNumbersOnlyNine()
    {
        for (int i = 0; i < 12; ++i)
            main().newDocument();
        Q_EMIT main().menus().mnuWindow->aboutToShow();
        QStringList numbered;
        for (QAction *a : main().menus().mnuWindow->actions())
            if (a->text().contains("Documento")) numbered.append(a->text());
        QCOMPARE(numbered.size(), 12);
        QCOMPARE(numbered[0], QString("&1 Documento 1"));
        QCOMPARE(numbered[8], QString("&9 Documento 9"));
        QCOMPARE(numbered[9], QString("10 Documento 10"));
        QCOMPARE(numbered[11], QString("12 Documento 12"));
    }

    void theSimulationStopsFromTheKeyboardOrTheCloseBox_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::newRow("Escape") << "escape";
        QTest::newRow("Tab to Parar, then Space") << "tab space";
        QTest::newRow("Enter") << "enter";
        QTest::newRow("the close box") << "close box";
    }

    void theSimulationStopsFromTheKeyboardOrTheCloseBox()
    {
        QFETCH(QString, keys);
        SimulationWindow w(12, "Documento 1", RichText::fromPlain("Bom dia"));
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.arm();
        QTest::qWait(400); // the engine runs
        auto *tagBox = w.findChild<QLineEdit *>("Text1");
        auto *stop = w.findChild<QPushButton *>("Command1");
        tagBox->setFocus(); // where a click would leave it
        tagBox->setText("<Pausa______>");
        QTest::keyClick(tagBox, Qt::Key_Home, Qt::ShiftModifier); // no key but these reaches it
        QVERIFY(!tagBox->hasSelectedText());
        if (keys == "escape") {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        } else if (keys == "tab space") {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), stop);
            QTest::keyClick(stop, Qt::Key_Space);
        } else if (keys == "enter") {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        } else {
            QVERIFY(w.isVisible());
            w.close();
            QVERIFY(w.engine().stopRequested());
            QTest::qWait(300); // nothing runs on the closed window
        }
        QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 3000);
        // The tag box stays read-only to typing.
        QVERIFY(tagBox->isReadOnly());
    }

    void theTagBoxShowsEveryTagWhole()
    {
        for (int width : {5, 6, 9, 12, 15, 30}) {
            SimulationWindow w(width, "x", RichText());
            auto *tagBox = w.findChild<QLineEdit *>("Text1");
            const int room = tagBox->width() - 12; // frame and text margins
            for (const QString &tag : tags::all()) {
                QVERIFY2(tagBox->fontMetrics().horizontalAdvance(tag) <= room,
                         qPrintable(QStringLiteral("%1 in 1X%2").arg(tag).arg(width)));
            }
            QVERIFY(tagBox->geometry().right() < w.width());
        }
    }

    void qtSpeaksPortuguese()
    {
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_pt_BR.qm"))
            QSKIP("Qt's Portuguese translations are not installed");
        QVERIFY(installPortuguese());
        QMessageBox box(QMessageBox::Question, "Letreiro", "Deseja salvar?",
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Yes)->text().remove('&'), QString("Sim"));
        QCOMPARE(box.button(QMessageBox::No)->text().remove('&'), QString("Não"));
        QCOMPARE(box.button(QMessageBox::Cancel)->text().remove('&'), QString("Cancelar"));
        QCOMPARE(QLocale().language(), QLocale::Portuguese);
    }
};

QTEST_MAIN(TestFirstHour)
#include "tst_firsthour.moc"
