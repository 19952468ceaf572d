// The program's own port, its worker thread, on real devices: a panel
// emulator's pseudo-terminal, a device server, one that never answers.
// Frames end whole whatever the window does meanwhile.
#include "cli/clirunner.h"
#include "mainwindowfixture.h"
#include "panelactions.h"
#include "statusbar.h"

#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

#ifdef Q_OS_UNIX
#include "loopback.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#endif

class TestOwnPort : public QObject
{
    Q_OBJECT
private:
    MainWindowFixture m_fx;

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup()
    {
        m_fx.close();
        qunsetenv("LETREIRO_PORTAS");
    }

    // The program's own port (its worker thread) on a device as COM1.
    MainWindow &openOn(const QString &device, int address = 1)
    {
        qputenv("LETREIRO_PORTAS", ("COM1=" + device).toUtf8());
        m_fx.writeConfig(address);
        MainWindow &w = m_fx.open(false);
        w.activatePort();
        return w;
    }

    void transferThrough_data()
    {
        QTest::addColumn<QStringList>("emulatorArgs");
        QTest::newRow("pseudo-terminal") << QStringList{};
        QTest::newRow("device server") << QStringList{"--tcp", "0"};
    }

    void transferThrough()
    {
#ifdef Q_OS_UNIX
        QFETCH(QStringList, emulatorArgs);
        Emulator emulator(emulatorArgs);
        MainWindow &w = openOn(emulator.device);
        QTRY_VERIFY(w.panel().isPortOpen());
        QVERIFY2(m_fx.prompt.messages.isEmpty(), qPrintable(m_fx.prompt.messages.join(' ')));
        QTest::keyClicks(w.newDocument()->editor(), "Bom dia");
        w.menus().mnutransfere->trigger();
        QTRY_COMPARE(w.statusPanels()->panelText(1), QString("Transmissão bem sucedida."));
        QCOMPARE(emulator.nextFrame(), QString("endereço 1, verificação certa: LBom dia"));
#endif
    }

    // Closing the window, reading the settings anew or destroying the window
    // during an exchange: the frame goes out whole, the reopen waits for it,
    // and no answer is waited for once the program is ending.
    void theFrameInHandEndsWhole()
    {
#ifdef Q_OS_UNIX
        // The USB adapter option: 0.1 s before every byte.
        writeFile(m_fx.dir.filePath("usb232.dat"), "1\r\n");
        Emulator port({"--resposta", "nenhuma"});
        MainWindow *w = &openOn(port.device);
        w->show();
        QTRY_VERIFY(w->panel().isPortOpen());
        DocumentWindow *doc = w->newDocument();
        QTest::keyClicks(doc->editor(), "ab");
        doc->editor()->document()->setModified(false);
        w->menus().mnutransfere->trigger();
        QVERIFY(w->panel().isBusy()); // the window did not wait
        QTest::qWait(300);
        m_fx.reload(); // the port is opened again: after the exchange
        w->activatePort();
        QVERIFY(!w->close());
        QVERIFY(w->statusPanels()->panelText(1).startsWith("Encerrando"));
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 5000);
        QCOMPARE(port.nextFrame(), QString("endereço 1, verificação certa: Lab"));

        // Destroyed in the middle of a frame: it still leaves whole.
        w = &openOn(port.device);
        QTRY_VERIFY(w->panel().isPortOpen());
        w->menus().mnupara->trigger();
        QTest::qWait(300);
        m_fx.window.reset();
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
        MainWindow &w = openOn(device);
        QTRY_COMPARE(w.statusPanels()->panelText(1), QString("Conectando a %1…").arg(device));
        QVERIFY(m_fx.prompt.messages.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!m_fx.prompt.messages.isEmpty(), 8000);
        QCOMPARE(m_fx.prompt.messages, QStringList{"Porta de Comunicação não disponível!!!"});
        QVERIFY2(w.statusPanels()->panelText(1).contains("não aceitou a conexão em 5 s"),
                 qPrintable(w.statusPanels()->panelText(1)));
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
        QElapsedTimer clock;
        clock.start();
        std::vector<qint64> arrivals; // ms
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            while (!stop) {
                pollfd p{master, POLLIN, 0};
                if (poll(&p, 1, 20) <= 0) continue;
                char buf[64];
                for (ssize_t n = read(master, buf, sizeof buf); n > 0; --n)
                    arrivals.push_back(clock.elapsed());
            }
        });
        writeFile(m_fx.dir.filePath("usb232.dat"), "1\r\n"); // 0.1 s before every byte
        MainWindow &w = openOn(device, 0);
        QTRY_VERIFY(w.panel().isPortOpen());
        QTest::keyClicks(w.newDocument()->editor(), "ab");
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
        QCOMPARE(w.statusPanels()->panelText(1), QString("Transmissão global bem sucedida."));
        QCOMPARE(arrivals.size(), size_t(8 + 3 + 1));
        for (size_t i = 1; i < arrivals.size(); ++i) {
            const qint64 gap = arrivals[i] - arrivals[i - 1];
            QVERIFY2(gap < 250, qPrintable(QString("byte %1 came %2 ms after").arg(i).arg(gap)));
        }
#endif
    }
};

QTEST_MAIN(TestOwnPort)
#include "tst_ownport.moc"
