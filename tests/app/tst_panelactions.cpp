#include "closingwindow.h"
#include "debugwindow.h"
#include "editcommands.h"
#include "frame.h"
#include "ledview.h"
#include "mainwindowfixture.h"
#include "panelactions.h"
#include "simdrivers.h"
#include "simulationwindow.h"
#include "statusbar.h"
#include "testbytes.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QToolButton>
#include <QtTest>

namespace
{

const QByteArray kAck = bytes({0x81, 0x7E, 5, 0, 1, 0, 0xFF, 0xFF, 0x06, 0x00});
const QByteArray kNak = bytes({0x81, 0x7E, 5, 0, 1, 0, 0xFF, 0xFF, 0x15, 0x00});
const char *const kTransmissionButtons[] = {"tbPara",      "tbApaga", "tbInicia",
                                            "tbTransfere", "tbHora",  "tbData"};

} // namespace

class TestPanelActions : public QObject
{
    Q_OBJECT
private:
    MainWindowFixture m_fx;

    MainWindow &main() { return *m_fx.window; }
    QString status() { return main().statusPanels()->panelText(1); }

    void start(int address = 1, int panelType = 0)
    {
        m_fx.writeConfig(address, panelType);
        m_fx.open();
        main().activatePort();
    }

    // "X" bold, an inserted tag, then "ab".
    DocumentWindow *message()
    {
        DocumentWindow *doc = main().newDocument();
        MessageEdit &e = *doc->editor();
        e.setFontWeight(QFont::Bold);
        QTest::keyClick(&e, 'X');
        editcommands::insertTag(e, "<Pausa______>");
        e.setFontWeight(QFont::Normal);
        QTest::keyClicks(&e, "ab");
        return doc;
    }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { start(); }
    void cleanup() { m_fx.close(); }

    void transferSendsTheFlattenedMessage()
    {
        message();
        const QByteArray frame = frame::build(1, "L\xFE"
                                                 "X\xB0"
                                                 "ab");
        m_fx.port->line.answerAfterFrame(frame.size(), kAck);
        QString during; // what the status bar says while the frame goes
        m_fx.port->line.onWrite = [&, answer = m_fx.port->line.onWrite](FakeLine &l) {
            during = status();
            answer(l);
        };
        main().menus().mnutransfere->trigger();
        QCOMPARE(during, QString("Transmitindo!!!  =>  6 Caracteres."));
        QCOMPARE(m_fx.port->line.written, frame);
        QCOMPARE(status(), QString("Transmissão bem sucedida."));
        QVERIFY(main().menus().mnutrans->menuAction()->isEnabled());
        QVERIFY(main().menus().mnuconfig->isEnabled());

        m_fx.port->line.written.clear();
        m_fx.port->line.answerAfterFrame(frame.size(), kNak);
        main().findChild<QToolButton *>("tbTransfere")->click();
        // With its reason; each reason and the silence's time-out are tst_panellink's.
        QCOMPARE(status(), QString("Falha na transmissão. (o painel recusou a mensagem)"));
    }

    void anEmptyEditorIsRefused()
    {
        main().newDocument();
        main().menus().mnutransfere->trigger();
        main().menus().mnusim->trigger();
        QCOMPARE(m_fx.prompt.messages,
                 QStringList({"Favor editar uma mensagem!!!", "Favor editar uma mensagem!!!"}));
        QVERIFY(m_fx.port->line.written.isEmpty());
    }

    void panelCommandsAndTheGlobalAddress()
    {
        start(0);
        main().menus().mnupara->trigger();
        QCOMPARE(m_fx.port->line.written, frame::build(0, "P"));
        QCOMPARE(status(), QString("Transmissão global bem sucedida."));
        m_fx.port->line.written.clear();
        main().findChild<QToolButton *>("tbHora")->click();
        QCOMPARE(m_fx.port->line.written.mid(8, 1), QByteArray("R"));
        QCOMPARE(status(), QString("Hora acertada."));
        main().findChild<QToolButton *>("tbData")->click();
        QCOMPARE(status(), QString("Data acertada."));
        // Bytes that cannot be written are a failure, global or not.
        m_fx.port->line.stuck = true;
        main().menus().mnudata->trigger();
        QCOMPARE(status(),
                 QString("Falha na transmissão. (a linha não aceitou os dados em 1.0 s)"));
    }

    void aSecondExchangeIsRefusedWhileOneRuns()
    {
        DocumentWindow *doc = message();
        int attempts = 0;
        // While the first one waits, the operator tries everything else.
        m_fx.port->time.onWait = [&] {
            if (attempts++ > 2) return;
            main().menus().mnupara->trigger();
            main().findChild<QToolButton *>("tbTransfere")->click();
            main().findChild<QToolButton *>("tbApaga")->click();
            QVERIFY(!main().menus().mnutrans->menuAction()->isEnabled());
            QVERIFY(!main().menus().mnuconfig->isEnabled());
            QVERIFY(main().panel().isBusy());
            // The toolbar says what the menu says.
            for (const char *b : kTransmissionButtons)
                QVERIFY2(!main().findChild<QToolButton *>(b)->isEnabled(), b);
        };
        main().menus().mnuinicia->trigger();
        QCOMPARE(m_fx.port->line.written, frame::build(1, "I"));
        QVERIFY(attempts >= 2);
        QVERIFY(main().menus().mnutrans->menuAction()->isEnabled());
        for (const char *b : kTransmissionButtons)
            QVERIFY2(main().findChild<QToolButton *>(b)->isEnabled(), b);
        // With no message window, "Transfere" says so instead of leaving
        // the last outcome as if it were its own.
        doc->editor()->document()->setModified(false);
        main().mdiArea()->closeAllSubWindows();
        m_fx.port->line.written.clear();
        main().findChild<QToolButton *>("tbTransfere")->click();
        QCOMPARE(status(), QString("Nenhuma mensagem aberta para transferir."));
        QVERIFY(m_fx.port->line.written.isEmpty());
    }

    // A long frame: a bar with the seconds left; closing the window opens
    // a countdown that closes itself with the window when the frame ends.
    void aLongFrameShowsItsProgressAndHoldsTheClose()
    {
        main().show();
        // A frame that is gone within a second shows no bar.
        m_fx.port->line.drainMs = 5;
        QStringList bar;
        m_fx.port->line.onWrite = [&](FakeLine &) {
            bar.append(main().statusPanels()->progressText());
        };
        main().menus().mnupara->trigger();
        QCOMPARE(bar.size(), 10);
        QVERIFY(bar.join("").isEmpty());
        DocumentWindow *doc = main().newDocument();
        doc->editor()->insertPlainText(QString(600, 'x'));
        doc->editor()->document()->setModified(false);
        bar.clear();
        QCOMPARE(ClosingWindow().countdown(), QString("Aguardando o fim do quadro…")); // before a report
        QStringList countdown;
        m_fx.port->line.onWrite = [&](FakeLine &l) {
            if (l.written.size() % 100 != 50) return;
            bar.append(main().statusPanels()->progressText());
            if (l.written.size() == 250) QVERIFY(!main().close());
            if (auto *w = main().findChild<ClosingWindow *>()) {
                QVERIFY(w->isVisible());
                QCOMPARE(w->objectName(), QString("frmEncerrando"));
                QVERIFY(w->findChild<QLabel *>("lblRestam")->font().bold()); // it stands out
                countdown.append(w->countdown());
            }
        };
        main().menus().mnutransfere->trigger();
        // 610 bytes at 2400 baud: 2.8 s, counted down in whole seconds.
        QCOMPARE(bar.first(), QString("restam 3 s"));
        QCOMPARE(bar.last(), QString("restam 1 s"));
        QVERIFY(countdown.size() >= 3);
        QCOMPARE(countdown.first(), QString("Restam 2 s."));
        QCOMPARE(countdown.last(), QString("Restam 1 s."));
        QTRY_VERIFY(!main().isVisible());
        QVERIFY(!main().findChild<ClosingWindow *>());
        QVERIFY(main().statusPanels()->progressText().isEmpty());
    }

    void closingDuringAnExchangeWaitsForIt()
    {
        main().show();
        bool closedInside = true;
        m_fx.port->time.onWait = [&] {
            if (main().isVisible()) closedInside = !main().close();
        };
        main().menus().mnuinicia->trigger();
        m_fx.port->time.onWait = nullptr;
        QVERIFY(closedInside);
        QTRY_VERIFY(!main().isVisible()); // closed once the exchange ended
    }

    void aPortThatCannotBeOpened()
    {
        m_fx.writeConfig(1, 7);
        m_fx.open();
        m_fx.port->openOk = false;
        // One box however often the window is activated (its own box
        // activates it again when it closes); one more after the operator
        // has been in another program.
        for (int i = 0; i < 4; ++i)
            main().activatePort();
        QCOMPARE(m_fx.prompt.messages, QStringList{"Porta de Comunicação não disponível!!!"});
        main().panel().programLeft();
        main().activatePort();
        main().activatePort();
        QCOMPARE(m_fx.prompt.messages, QStringList({"Porta de Comunicação não disponível!!!",
                                                    "Porta de Comunicação não disponível!!!"}));
        QVERIFY(!main().menus().mnutrans->menuAction()->isEnabled());
        for (int n = 20; n <= 25; ++n)
            QVERIFY(!main().toolbarButtons()[n - 1]->isEnabled());
        QVERIFY(main().toolbarButtons()[27]->isEnabled()); // Debug
        QVERIFY(status().contains("permissão negada") && !main().panel().isPortOpen());
        // Once the port is there, the next activation opens it.
        m_fx.port->openOk = true;
        main().activatePort();
        QVERIFY(main().panel().isPortOpen() && main().toolbarButtons()[22]->isEnabled());
        QVERIFY(status().isEmpty()); // the reason went with the problem
        QCOMPARE(m_fx.port->opens, 7);
        main().activatePort();
        QCOMPARE(m_fx.port->opens, 7);
        // Panel type 7 (10 characters): no simulation.
        QVERIFY(!main().menus().mnusim->isEnabled() &&
                !main().menus().mnuvisu->actions().contains(main().menus().mnusim));
    }

    void portLostEndsTheExchangeAndIsOpenedAgain()
    {
        m_fx.port->line.failAfterBytes = 3;
        main().menus().mnuapaga->trigger();
        QCOMPARE(status(), QString("Falha na transmissão. (porta perdida)"));
        Q_EMIT m_fx.port->lost("/dev/ttyS9: a ligação foi interrompida");
        QVERIFY(!main().panel().isPortOpen());
        main().activatePort();
        QVERIFY(main().panel().isPortOpen());
    }

    void debugWindowShowsTheTrace()
    {
        main().menus().mnudebug->trigger();
        DebugWindow *debug = main().debugWindow();
        QVERIFY(debug);
        QCOMPARE(debug->windowTitle(), QString("frmdebug."));
        // Commands that act on the editor leave the debug window alone.
        main().menus().mnutransfere->trigger();
        QVERIFY(m_fx.port->line.written.isEmpty());
        m_fx.port->line.answerAfterFrame(10, kAck);
        main().menus().mnupara->trigger();
        QCOMPARE(debug->traceText(),
                 QString("Dados:\r\nP\r\n\r\nTransmitido:\r\n81H 7EH 5H 0H 1H 0H FFH FFH 50H 51H "
                         "\r\n\r\nRecebido:\r\n81H 7EH 5H 0H 1H 0H FFH FFH 6H 0H \r\n\r\n"));
        m_fx.port->line.onWrite = nullptr;
        m_fx.port->line.written.clear();
        main().menus().mnupara->trigger();
        // The trace ends with the failure and its reason.
        QVERIFY(debug->traceText().endsWith("Nenhum Dado Recebido.\r\n\r\n"
                                            "Falha na transmissão. (o painel não respondeu)\r\n"));
        main().mdiArea()->currentSubWindow()->close();
        QTRY_VERIFY(!main().debugWindow());
    }

    void simulationWindows()
    {
        start(1, 3); // 5 characters
        QVERIFY(main().menus().mnusim->isEnabled() &&
                main().menus().mnuvisu->actions().contains(main().menus().mnusim));
        QTest::keyClicks(main().newDocument()->editor(), "ABCDEFG");
        bool simulated = false;
        main().showSimulation = [&](SimulationWindow &w) {
            simulated = true;
            QCOMPARE(w.windowTitle(), QString("Simulação 1X5 => Documento 1"));
            QCOMPARE(w.objectName(), QString("frmsim3"));
            VirtualSimulationDriver driver(w.engine());
            driver.run(1000, [&](qint64, SimWait) { w.showState(); });
            QCOMPARE(int(w.view()->cellsShown().size()), 5);
            QCOMPARE(w.view()->cellCount(), 5);
            QCOMPARE(w.tagBox()->text(), QString());
            const PanelCells shown = w.view()->cellsShown();
            QTest::keyClicks(w.view(), "zz"); // typing changes nothing
            QCOMPARE(w.view()->cellsShown(), shown);
            w.findChild<QPushButton *>("Command1")->click();
            driver.run(5000, [&](qint64, SimWait wait) {
                if (wait.kind == SimWait::Finished) w.engineEnded();
            });
            QVERIFY(w.engine().isFinished());
        };
        main().menus().mnusim->trigger();
        QVERIFY(simulated);
    }

    void panelTypesWithoutASimulation()
    {
        start(1, 8);
        QTest::keyClicks(main().newDocument()->editor(), "A");
        main().simulate();
        QCOMPARE(m_fx.prompt.messages.last(),
                 QString("Opção inválida para esta quantidade de caracteres"));
        QVERIFY(!main().menus().mnuvisu->actions().contains(main().menus().mnusim));
        // Back to a type that has one: the command is in its menu again.
        m_fx.writeConfig(1, 0);
        m_fx.reload();
        main().activatePort();
        QVERIFY(main().menus().mnuvisu->actions().contains(main().menus().mnusim));
    }

    void anImpossibleAddressKeepsTransmissionOff()
    {
        start(40);
        QVERIFY(status().contains("cobalto.cfg") && status().contains("\"40\""));
        QVERIFY(!main().menus().mnutrans->menuAction()->isEnabled());
        message();
        main().menus().mnutransfere->trigger();
        main().menus().mnuhora->trigger();
        QVERIFY(m_fx.port->line.written.isEmpty());
        // Fixed in the file, the next load sends again.
        m_fx.writeConfig();
        m_fx.reload();
        main().activatePort();
        QVERIFY(main().menus().mnutrans->menuAction()->isEnabled() && status().isEmpty());
        m_fx.port->holdOpen = true; // while the port opens again, nothing goes
        m_fx.reload();
        main().activatePort();
        QVERIFY(!main().menus().mnutrans->menuAction()->isEnabled());
        m_fx.port->finishOpen();
        QVERIFY(main().menus().mnutrans->menuAction()->isEnabled());
    }
};

QTEST_MAIN(TestPanelActions)
#include "tst_panelactions.moc"
