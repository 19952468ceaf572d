#include "debugwindow.h"
#include "documentwindow.h"
#include "editcommands.h"
#include "editor/scriptedprompt.h"
#include "fakepanelport.h"
#include "frame.h"
#include "ledview.h"
#include "mainwindow.h"
#include "messageedit.h"
#include "panelactions.h"
#include "simdrivers.h"
#include "simulationwindow.h"
#include "statusbar.h"
#include "testbytes.h"
#include "testfiles.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#ifdef Q_OS_UNIX
#include "loopback.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#endif

namespace
{

const QByteArray kAck = bytes({0x81, 0x7E, 5, 0, 1, 0, 0xFF, 0xFF, 0x06, 0x00});
const QByteArray kNak = bytes({0x81, 0x7E, 5, 0, 1, 0, 0xFF, 0xFF, 0x15, 0x00});

void writeConfig(const QString &folder, int address, int panelType)
{
    writeFile(folder + "/cobalto.cfg",
              QString(" 1\r\n %1\r\n 1\r\n %2\r\n 0\r\n").arg(address).arg(panelType).toLatin1());
}

// Answers once the whole frame of the given size has been written.
void answerAfter(FakeLine &line, qsizetype frameSize, const QByteArray &reply)
{
    line.onWrite = [=](FakeLine &l) {
        if (l.written.size() == frameSize) l.answer(reply, 20, 2);
    };
}

// The desktop program's own port (its worker thread) to the emulator on a
// pseudo-terminal, with the USB adapter option: 0.1 s before every byte.
struct EmulatedPort {
    explicit EmulatedPort(const QString &folder, const QStringList &answer = {})
    {
        emulator.start(LETREIRO_CLI, QStringList{"painel"} + answer);
        emulator.waitForReadyRead(5000);
        qputenv("LETREIRO_PORTAS",
                "COM1=" + QString::fromUtf8(emulator.readLine()).trimmed().toUtf8());
        writeConfig(folder, 1, 0);
        writeFile(folder + "/usb232.dat", "1\r\n");
    }
    ~EmulatedPort()
    {
        qunsetenv("LETREIRO_PORTAS");
        emulator.terminate();
        emulator.waitForFinished();
    }
    QString nextFrame()
    {
        if (!emulator.canReadLine()) emulator.waitForReadyRead(5000);
        return QString::fromUtf8(emulator.readLine()).trimmed();
    }
    QProcess emulator;
};

} // namespace

class TestPanelActions : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    SharedSettings m_settings;
    ScriptedPrompt m_prompt;
    FakePanelPort *m_port = nullptr;
    std::unique_ptr<MainWindow> m_main;

    MainWindow &main() { return *m_main; }
    QString status() { return main().statusPanels()->panelText(1); }

    void start(int address = 1, int panelType = 0)
    {
        writeConfig(m_dir.path(), address, panelType);
        m_prompt = ScriptedPrompt();
        m_port = new FakePanelPort;
        m_main = std::make_unique<MainWindow>(m_settings, m_dir.path(), &m_prompt, m_port);
        m_port->setParent(m_main.get());
        main().load();
        main().MDIForm_Activate();
    }

    // "X" bold, an inserted tag, then "ab".
    DocumentWindow *message()
    {
        DocumentWindow *doc = main().LoadNewDoc();
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
    void cleanup()
    {
        if (m_main) {
            for (QMdiSubWindow *w : main().mdiArea()->subWindowList())
                if (auto *d = qobject_cast<DocumentWindow *>(w->widget()))
                    d->editor()->document()->setModified(false);
        }
        m_main.reset();
    }

    void transferSendsTheFlattenedMessage()
    {
        start();
        message();
        const QByteArray data("L\xFE"
                              "X\xB0"
                              "ab");
        const QByteArray frame = frame::build(1, data);
        answerAfter(m_port->line, frame.size(), kAck);
        main().menus().mnutransfere->trigger();
        QCOMPARE(m_port->line.written, frame);
        QCOMPARE(status(), QString("Transmissão bem sucedida."));
        QVERIFY(main().menus().mnutrans->menuAction()->isEnabled());
        QVERIFY(main().menus().mnuconfig->isEnabled());

        m_port->line.written.clear();
        answerAfter(m_port->line, frame.size(), kNak);
        main().toolbarButtonClick("Transfere");
        QCOMPARE(status(), QString("Falha na transmissão. (o painel recusou a mensagem)"));

        m_port->line.written.clear();
        m_port->line.onWrite = nullptr;
        const qint64 before = m_port->time.now;
        main().menus().mnutransfere->trigger();
        QCOMPARE(status(), QString("Falha na transmissão. (o painel não respondeu)"));
        QVERIFY(m_port->time.now - before >= 1500);
    }

    void statusShowsTheSizeWhileSending()
    {
        start();
        message();
        QString during;
        m_port->line.onWrite = [&](FakeLine &) { during = status(); };
        main().menus().mnutransfere->trigger();
        QCOMPARE(during, QString("Transmitindo!!!  =>  6 Caracteres."));
        QVERIFY(!m_port->line.written.isEmpty());
    }

    void anEmptyEditorIsRefused()
    {
        start();
        main().LoadNewDoc();
        main().menus().mnutransfere->trigger();
        main().menus().mnusim->trigger();
        QCOMPARE(m_prompt.messages,
                 QStringList({"Favor editar uma mensagem!!!", "Favor editar uma mensagem!!!"}));
        QVERIFY(m_port->line.written.isEmpty());
    }

    void panelCommandsAndTheGlobalAddress()
    {
        start(0);
        main().menus().mnupara->trigger();
        QCOMPARE(m_port->line.written, frame::build(0, "P"));
        QCOMPARE(status(), QString("Transmissão global bem sucedida."));
        m_port->line.written.clear();
        main().toolbarButtonClick("Hora");
        QCOMPARE(m_port->line.written.mid(8, 1), QByteArray("R"));
        QCOMPARE(status(), QString("Hora acertada."));
        main().toolbarButtonClick("Data");
        QCOMPARE(status(), QString("Data acertada."));
        // Bytes that cannot be written are a failure, global or not.
        m_port->line.stuck = true;
        main().menus().mnudata->trigger();
        QCOMPARE(status(), QString("Falha na transmissão. (a linha não aceitou os dados em 1.0 s)"));
    }

    void aSecondExchangeIsRefusedWhileOneRuns()
    {
        start();
        message();
        int attempts = 0;
        // While the first one waits, the operator tries everything else.
        m_port->time.onWait = [&] {
            if (attempts++ > 2) return;
            main().menus().mnupara->trigger();
            main().toolbarButtonClick("Transfere");
            main().toolbarButtonClick("Apaga");
            QVERIFY(!main().menus().mnutrans->menuAction()->isEnabled());
            QVERIFY(!main().menus().mnuconfig->isEnabled());
            QVERIFY(main().panel().isBusy());
        };
        main().menus().mnuinicia->trigger();
        QCOMPARE(m_port->line.written, frame::build(1, "I"));
        QVERIFY(attempts >= 2);
        QVERIFY(main().menus().mnutrans->menuAction()->isEnabled());
    }

    void closingDuringAnExchangeWaitsForIt()
    {
        start();
        main().show();
        bool closedInside = true;
        m_port->time.onWait = [&] {
            if (main().isVisible()) closedInside = !main().close();
        };
        main().menus().mnuinicia->trigger();
        m_port->time.onWait = nullptr;
        QVERIFY(closedInside);
        QTRY_VERIFY(!main().isVisible()); // closed once the exchange ended
    }

    void aPortThatCannotBeOpened()
    {
        writeConfig(m_dir.path(), 1, 7);
        m_prompt = ScriptedPrompt();
        m_port = new FakePanelPort;
        m_port->openOk = false;
        m_main = std::make_unique<MainWindow>(m_settings, m_dir.path(), &m_prompt, m_port);
        m_port->setParent(m_main.get());
        main().load();
        // One box however often the window is activated (its own box
        // activates it again when it closes); one more after the operator
        // has been in another program.
        for (int i = 0; i < 4; ++i)
            main().MDIForm_Activate();
        QCOMPARE(m_prompt.messages, QStringList{"Porta de Comunicação não disponível!!!"});
        main().panel().programLeft();
        main().MDIForm_Activate();
        main().MDIForm_Activate();
        QCOMPARE(m_prompt.messages, QStringList({"Porta de Comunicação não disponível!!!",
                                                 "Porta de Comunicação não disponível!!!"}));
        QVERIFY(!main().menus().mnutrans->menuAction()->isEnabled());
        for (int n = 20; n <= 25; ++n)
            QVERIFY(!main().toolbarButtons()[n - 1]->isEnabled());
        QVERIFY(main().toolbarButtons()[27]->isEnabled()); // Debug
        QVERIFY(status().contains("permissão negada"));
        QCOMPARE(m_settings.portReady, qint16(0));
        // Once the port is there, the next activation opens it.
        m_port->openOk = true;
        main().MDIForm_Activate();
        QCOMPARE(m_settings.portReady, qint16(1));
        QVERIFY(main().toolbarButtons()[22]->isEnabled());
        QVERIFY(status().isEmpty()); // the reason went with the problem
        QCOMPARE(m_port->opens, 7);
        main().MDIForm_Activate();
        QCOMPARE(m_port->opens, 7);
        // Panel type 7 (10 characters): no simulation.
        QVERIFY(!main().menus().mnusim->isVisible());
    }

    void portLostEndsTheExchangeAndIsOpenedAgain()
    {
        start();
        m_port->line.failAfterBytes = 3;
        main().menus().mnuapaga->trigger();
        QCOMPARE(status(), QString("Falha na transmissão. (porta perdida)"));
        Q_EMIT m_port->lost("/dev/ttyS9: a ligação foi interrompida");
        QCOMPARE(m_settings.portReady, qint16(0));
        main().MDIForm_Activate();
        QCOMPARE(m_settings.portReady, qint16(1));
    }

    void debugWindowShowsTheTrace()
    {
        start();
        main().menus().mnudebug->trigger();
        DebugWindow *debug = main().debugWindow();
        QVERIFY(debug);
        QCOMPARE(debug->windowTitle(), QString("frmdebug."));
        QCOMPARE(m_settings.debugOpen, qint16(1));
        // Commands that act on the editor leave the debug window alone.
        main().menus().mnutransfere->trigger();
        QVERIFY(m_port->line.written.isEmpty());
        answerAfter(m_port->line, 10, kAck);
        main().menus().mnupara->trigger();
        QCOMPARE(debug->traceText(),
                 QString("Dados:\r\nP\r\n\r\nTransmitido:\r\n81H 7EH 5H 0H 1H 0H FFH FFH 50H 51H "
                         "\r\n\r\nRecebido:\r\n81H 7EH 5H 0H 1H 0H FFH FFH 6H 0H \r\n\r\n"));
        m_port->line.onWrite = nullptr;
        m_port->line.written.clear();
        main().menus().mnupara->trigger();
        // The trace ends with the failure and its reason.
        QVERIFY(debug->traceText().endsWith("Nenhum Dado Recebido.\r\n\r\n"
                                            "Falha na transmissão. (o painel não respondeu)\r\n"));
        main().mdiArea()->currentSubWindow()->close();
        QTRY_COMPARE(m_settings.debugOpen, qint16(0));
    }

    void simulationWindows()
    {
        start(1, 3); // 5 characters
        QVERIFY(main().menus().mnusim->isVisible());
        DocumentWindow *doc = main().LoadNewDoc();
        QTest::keyClicks(doc->editor(), "ABCDEFG");
        QString caption, name;
        int cells = 0;
        main().showSimulation = [&](SimulationWindow &w) {
            caption = w.windowTitle();
            name = w.objectName();
            VirtualSimulationDriver driver(w.engine());
            driver.run(1000, [&](qint64, SimWait) { w.showState(); });
            cells = w.view()->cellsShown().size();
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
        QCOMPARE(caption, QString("Simulação 1X5 => Documento 1"));
        QCOMPARE(name, QString("frmsim3"));
        QCOMPARE(cells, 5);
    }

    void theCloseBoxEndsASimulation()
    {
        RichText m = RichText::fromPlain("ABC");
        SimulationWindow w(12, "Documento 1", m);
        w.show();
        w.arm();
        QTest::qWait(500);
        QVERIFY(w.isVisible());
        w.close();
        QVERIFY(w.engine().stopRequested());
        QTest::qWait(300); // nothing runs on the closed window
        QVERIFY(!w.isVisible());
    }

    void panelTypesWithoutASimulation()
    {
        start(1, 8);
        DocumentWindow *doc = main().LoadNewDoc();
        QTest::keyClicks(doc->editor(), "A");
        main().mnusim_Click();
        QCOMPARE(m_prompt.messages.last(),
                 QString("Opção inválida para esta quantidade de caracteres"));
    }

    void transferThrough_data()
    {
        QTest::addColumn<QStringList>("emulatorArgs");
        QTest::newRow("pseudo-terminal") << QStringList{"painel"};
        QTest::newRow("device server") << QStringList{"painel", "--tcp", "0"};
    }

    void transferThrough()
    {
#ifdef Q_OS_UNIX
        QFETCH(QStringList, emulatorArgs);
        QProcess emulator;
        emulator.start(LETREIRO_CLI, emulatorArgs);
        QVERIFY(emulator.waitForReadyRead(5000));
        const QString device = QString::fromUtf8(emulator.readLine()).trimmed();
        qputenv("LETREIRO_PORTAS", ("COM1=" + device).toUtf8());
        writeConfig(m_dir.path(), 1, 0);
        ScriptedPrompt prompt;
        MainWindow w(m_settings, m_dir.path(), &prompt);
        w.load();
        w.MDIForm_Activate();
        QTRY_VERIFY(w.panel().isPortOpen());
        QVERIFY2(prompt.messages.isEmpty(), qPrintable(prompt.messages.join(' ')));
        DocumentWindow *doc = w.LoadNewDoc();
        QTest::keyClicks(doc->editor(), "Bom dia");
        w.menus().mnutransfere->trigger();
        QTRY_COMPARE(w.statusPanels()->panelText(1), QString("Transmissão bem sucedida."));
        QTRY_VERIFY(emulator.canReadLine());
        QCOMPARE(QString::fromUtf8(emulator.readLine()).trimmed(),
                 QString("endereço 1, verificação certa: LBom dia"));
        doc->editor()->document()->setModified(false);
        qunsetenv("LETREIRO_PORTAS");
        emulator.terminate();
        emulator.waitForFinished();
#endif
    }

    void anImpossibleAddressKeepsTransmissionOff()
    {
        start(40);
        QVERIFY(status().contains("cobalto.cfg") && status().contains("\"40\""));
        QVERIFY(!main().menus().mnutrans->menuAction()->isEnabled());
        message();
        main().menus().mnutransfere->trigger();
        main().menus().mnuhora->trigger();
        QVERIFY(m_port->line.written.isEmpty());
        // Fixed in the file, the next load sends again.
        writeConfig(m_dir.path(), 1, 0);
        main().load();
        main().MDIForm_Activate();
        QVERIFY(main().menus().mnutrans->menuAction()->isEnabled());
        QVERIFY(status().isEmpty());
    }

    // Closing the window, reading the settings anew or destroying the window
    // during an exchange: the frame goes out whole, the reopen waits for it,
    // and no answer is waited for once the program is ending.
    void theFrameInHandEndsWhole()
    {
#ifdef Q_OS_UNIX
        EmulatedPort port(m_dir.path(), {"--resposta", "nenhuma"});
        ScriptedPrompt prompt;
        auto w = std::make_unique<MainWindow>(m_settings, m_dir.path(), &prompt);
        w->load();
        w->show();
        w->MDIForm_Activate();
        QTRY_VERIFY(w->panel().isPortOpen());
        DocumentWindow *doc = w->LoadNewDoc();
        QTest::keyClicks(doc->editor(), "ab");
        doc->editor()->document()->setModified(false);
        w->menus().mnutransfere->trigger();
        QVERIFY(w->panel().isBusy()); // the window did not wait
        QTest::qWait(300);
        w->load(); // the port is opened again: after the exchange
        w->MDIForm_Activate();
        QVERIFY(!w->close());
        QVERIFY(w->statusPanels()->panelText(1).startsWith("Encerrando"));
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 5000);
        QCOMPARE(port.nextFrame(), QString("endereço 1, verificação certa: Lab"));

        // Destroyed in the middle of a frame: it still leaves whole.
        w = std::make_unique<MainWindow>(m_settings, m_dir.path(), &prompt);
        w->load();
        w->MDIForm_Activate();
        QTRY_VERIFY(w->panel().isPortOpen());
        w->menus().mnupara->trigger();
        QTest::qWait(300);
        w.reset();
        QCOMPARE(port.nextFrame(), QString("endereço 1, verificação certa: P"));
#endif
    }

    // A device server that never accepts the connection: the window goes on
    // and says what it waits for; after 5 s, the port box and the reason.
    void aDeviceServerThatNeverAccepts()
    {
#ifdef Q_OS_UNIX
        // The listen queue filled by others: a new connection is never taken.
        const UnreachableServer server;
        const QString device = server.device();
        qputenv("LETREIRO_PORTAS", ("COM1=" + device).toUtf8());
        writeConfig(m_dir.path(), 1, 0);
        ScriptedPrompt prompt;
        MainWindow w(m_settings, m_dir.path(), &prompt);
        w.load();
        w.MDIForm_Activate();
        QTRY_COMPARE(w.statusPanels()->panelText(1), QString("Conectando a %1…").arg(device));
        QVERIFY(prompt.messages.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!prompt.messages.isEmpty(), 8000);
        QCOMPARE(prompt.messages, QStringList{"Porta de Comunicação não disponível!!!"});
        QVERIFY2(w.statusPanels()->panelText(1).contains("não aceitou a conexão em 5 s"),
                 qPrintable(w.statusPanels()->panelText(1)));
        qunsetenv("LETREIRO_PORTAS");
#endif
    }

    // A modal window opened during an exchange runs its own event loop; the
    // frame must go on at its pace meanwhile, not wait for the window.
    void aModalWindowDoesNotHoldTheFrame()
    {
#ifdef Q_OS_UNIX
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        const QString device = QString::fromLocal8Bit(ptsname(master));
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        using Clock = std::chrono::steady_clock;
        std::vector<Clock::time_point> arrivals;
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            while (!stop) {
                pollfd p{master, POLLIN, 0};
                if (poll(&p, 1, 20) <= 0) continue;
                char buf[64];
                for (ssize_t n = read(master, buf, sizeof buf); n > 0; --n)
                    arrivals.push_back(Clock::now());
            }
        });
        qputenv("LETREIRO_PORTAS", ("COM1=" + device).toUtf8());
        writeConfig(m_dir.path(), 0, 0);
        QFile usb(m_dir.path() + "/usb232.dat");
        QVERIFY(usb.open(QIODevice::WriteOnly));
        usb.write("1\r\n"); // a pause of 0.1 s before every byte
        usb.close();
        ScriptedPrompt prompt;
        MainWindow w(m_settings, m_dir.path(), &prompt);
        w.load();
        w.MDIForm_Activate();
        QTRY_VERIFY(w.panel().isPortOpen());
        DocumentWindow *doc = w.LoadNewDoc();
        QTest::keyClicks(doc->editor(), "ab");
        QDialog modal;
        QTimer::singleShot(300, &modal, [&] {
            QTimer::singleShot(1500, &modal, &QDialog::accept);
            modal.exec();
        });
        w.menus().mnutransfere->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!w.panel().isBusy(), 10000);
        stop = true;
        reader.join();
        ::close(master);
        qunsetenv("LETREIRO_PORTAS");
        doc->editor()->document()->setModified(false);
        QCOMPARE(w.statusPanels()->panelText(1), QString("Transmissão global bem sucedida."));
        QCOMPARE(arrivals.size(), size_t(8 + 3 + 1));
        for (size_t i = 1; i < arrivals.size(); ++i) {
            const auto gap =
                std::chrono::duration_cast<std::chrono::milliseconds>(arrivals[i] - arrivals[i - 1])
                    .count();
            QVERIFY2(gap < 250, qPrintable(QString("byte %1 came %2 ms after").arg(i).arg(gap)));
        }
#endif
    }
};

QTEST_MAIN(TestPanelActions)
#include "tst_panelactions.moc"
