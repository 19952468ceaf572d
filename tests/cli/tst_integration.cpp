// Other systems putting text on panels: plain text from a script or a pipe,
// many panels in one call, panels behind a serial device server (raw TCP),
// and the conventions scripts rely on.
#include "addresslist.h"
#include "clirunner.h"
#include "rtfwriter.h"
#include "testfiles.h"

#include "frame.h"
#include "messages.h"

#include <QRegularExpression>
#include <QSerialPort>
#include <QTcpServer>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

#include "loopback.h"
#include "seriallock.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/inotify.h>
#endif

class TestIntegration : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QStringList show(const QStringList &more)
    {
        return QStringList{"transfere", "--mostrar", "--pasta", m_dir.path(), "--endereco", "4"} +
               more;
    }

private Q_SLOTS:
    void addressLists_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("expected"); // empty: refused
        QTest::newRow("one") << "7" << QList<int>{7};
        QTest::newRow("list and ranges") << "1,3,5-7" << QList<int>{1, 3, 5, 6, 7};
        QTest::newRow("order kept") << "9,2" << QList<int>{9, 2};
        QTest::newRow("all panels") << "0" << QList<int>{0};
        QTest::newRow("out of range") << "1,32" << QList<int>{};
        QTest::newRow("a range of one") << "5-5" << QList<int>{5};
        QTest::newRow("backwards range") << "7-5" << QList<int>{};
        QTest::newRow("negative") << "-1" << QList<int>{};
        QTest::newRow("empty part") << "1,,2" << QList<int>{};
        QTest::newRow("words") << "um" << QList<int>{};
    }

    void addressLists()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, expected);
        const auto list = parseAddressList(text, 0, 31);
        QCOMPARE(list.has_value(), !expected.isEmpty());
        if (list) QCOMPARE(*list, expected);
    }

    void plainTextGoesOutAsTheEditorWouldSendIt()
    {
        const QString file = m_dir.filePath("senha.msg");
        // As the editor holds it when the operator types the text and inserts
        // the tag from the menu: red text, a grey underlined name.
        writeFile(file,
                  writeRtf(Message().text("Senha 042 ").tag("<Pisca______>").text("Guichê 3")));
        const Run fromFile = cli(show({file}));
        QCOMPARE(fromFile.status, 0);
        const Run fromText = cli(show({"--texto", "Senha 042 <Pisca______>Guichê 3"}));
        QCOMPARE(fromText.out, fromFile.out);
        // Standard input, UTF-8, with the line end a pipe adds.
        const Run fromPipe = cli(show({"-"}), "Senha 042 <Pisca______>Guichê 3\n");
        QCOMPARE(fromPipe.out, fromFile.out);
        QCOMPARE(fromPipe.status, 0);
        // Nothing to send is refused, typed or kept.
        const QString none = m_dir.filePath("vazio.msg");
        writeFile(none, writeRtf(Message()));
        for (const Run &empty :
             {cli(show({"--texto", ""})), cli(show({"-"}), "\n"), cli(show({none}))}) {
            QCOMPARE(empty.status, 2);
            QVERIFY2(empty.err.contains("Favor editar uma mensagem!!!"), qPrintable(empty.err));
        }
    }

    void manyPanelsInOneCall()
    {
        Emulator panels({"--endereco", "1,3,6"}); // 5 is silent
        const Run r = cli(
            {"para", "--pasta", m_dir.path(), "--porta", panels.device, "--endereco", "1,3,5-6"});
        QCOMPARE(r.out, QString("endereço 1: Transmissão bem sucedida.\n"
                                "endereço 3: Transmissão bem sucedida.\n"
                                "endereço 5: Falha na transmissão.\n"
                                "endereço 6: Transmissão bem sucedida.\n"));
        QCOMPARE(r.status, 1);
        for (const char *a : {"1", "3", "5", "6"})
            QCOMPARE(panels.nextFrame(), QString("endereço %1, verificação certa: P").arg(a));
        // All answered: 0. (A list that cannot be right sends nothing: tst_contracts.)
        const Run all =
            cli({"inicia", "--pasta", m_dir.path(), "--porta", panels.device, "--endereco", "6,1"});
        QCOMPARE(all.status, 0);
        QCOMPARE(panels.nextFrame(), QString("endereço 6, verificação certa: I"));
        QCOMPARE(panels.nextFrame(), QString("endereço 1, verificação certa: I"));
    }

    void panelsBehindADeviceServer()
    {
        Emulator ack({"--tcp", "0"});
        QVERIFY(ack.device.startsWith("tcp://127.0.0.1:"));
        Run r = cli({"inicia", "--pasta", m_dir.path(), "--porta", ack.device, "--endereco", "1"});
        QCOMPARE(r.out, QString("Transmissão bem sucedida.\n"));
        QCOMPARE(ack.nextFrame(), QString("endereço 1, verificação certa: I"));

        for (const auto &[answer, why] :
             {std::pair{"nenhuma", "o painel não respondeu"}, {"desliga", "conexão"}}) {
            Emulator panel({"--tcp", "0", "--resposta", answer});
            r = cli({"para", "--pasta", m_dir.path(), "--porta", panel.device, "--endereco", "1"});
            QCOMPARE(r.status, 1);
            QVERIFY2(r.err.contains(why), qPrintable(r.err));
        }

        // Nobody listening: a port error, before anything is sent.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString closed = QString("tcp://127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        r = cli({"para", "--pasta", m_dir.path(), "--porta", closed, "--endereco", "1"});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("Porta de Comunicação não disponível!!!") &&
                     r.err.contains("conexão recusada"),
                 qPrintable(r.err));
    }

    // The emulator as a babbling device: once a frame reaches it, 0x55
    // every 20 ms instead of an answer.
    void aBabblingPanel()
    {
        Emulator panel({"--resposta", "ruido"});
        QSerialPort port(panel.device);
        QVERIFY(port.open(QIODevice::ReadWrite));
        port.write(QByteArray::fromHex("817E05000100FFFF4140"));
        QByteArray heard;
        QTRY_VERIFY((heard += port.readAll()).count('\x55') >= 3);
        QCOMPARE(heard.count('\x55'), heard.size());
    }

    // Another program holds the port: it is named, and --esperar waits
    // for it to let go.
    void aPortInUse()
    {
        Emulator panel;
        QSerialPort holder(panel.device);
        QVERIFY(holder.open(QIODevice::ReadWrite));
        Run r = cli({"para", "--pasta", m_dir.path(), "--porta", panel.device, "--endereco", "1"});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(panel.device + ": a porta está em uso por outro programa"),
                 qPrintable(r.err));
        QVERIFY2(r.err.contains(QString("(processo %1)").arg(QCoreApplication::applicationPid())),
                 qPrintable(r.err));
#ifdef Q_OS_LINUX
        // Without --esperar it looks once and gives up: the port let go as
        // soon as it has looked (its lock file opened) is still refused.
        const int watch = inotify_init1(IN_CLOEXEC);
        QVERIFY(inotify_add_watch(watch, QFile::encodeName(seriallock::find(
            panel.device, seriallock::systemFolders())).constData(), IN_OPEN) >= 0);
        QProcess once;
        once.start(LETREIRO_CLI, {"para", "--pasta", m_dir.path(), "--porta", panel.device,
                                  "--endereco", "1"});
        pollfd looked{watch, POLLIN, 0};
        QCOMPARE(::poll(&looked, 1, 30000), 1);
        ::close(watch);
        holder.close();
        QVERIFY(once.waitForFinished(10000));
        QCOMPARE(once.exitCode(), 2);
        QVERIFY(holder.open(QIODevice::ReadWrite));
#endif
        QProcess waiting;
        waiting.start(LETREIRO_CLI, {"para", "--pasta", m_dir.path(), "--porta", panel.device,
                                     "--endereco", "1", "--esperar", "10"});
        QVERIFY(!waiting.waitForFinished(1000));
        holder.close();
        QVERIFY(waiting.waitForFinished(10000));
        QCOMPARE(waiting.exitCode(), 0);
        QCOMPARE(panel.nextFrame(), QString("endereço 1, verificação certa: P"));
    }

    // A device server whose far end reads slower than the link writes
    // (its receive window fills): the frame goes through whole.
    void aDeviceServerThatPushesBack()
    {
#ifdef Q_OS_UNIX
        const LoopbackListener listener(1, 1024);
        QVERIFY(listener.socket >= 0);
        const QByteArray field = "L" + QByteArray(2499, 'x');
        const QByteArray expected = frame::build(1, frame::encodeDataField(field, 0));
        QByteArray received;
        std::thread peer([&] {
            const int c = ::accept(listener.socket, nullptr, nullptr);
            char b;
            // 2 ms a byte, about half the wire's time.
            while (received.size() < expected.size() && ::read(c, &b, 1) == 1) {
                received.append(b);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            const QByteArray ack = frame::build(1, QByteArray(1, char(frame::kAck)));
            (void)!::write(c, ack.constData(), size_t(ack.size()));
            ::close(c);
        });
        const Run r = cli({"transfere", "--pasta", m_dir.path(), "--porta", listener.device(),
                           "--endereco", "1", "--texto", QString(2499, 'x')});
        peer.join();
        QCOMPARE(r.out, QString("Transmissão bem sucedida.\n"));
        QCOMPARE(received, expected);
#endif
    }

    // A send that takes seconds is followed on a terminal's stderr, one
    // line written over; through a pipe stderr stays as scripts read it.
    // (A pseudo-terminal has no wire: the USB adapter's pause paces it.)
    void progressOnATerminalOnly()
    {
#ifdef Q_OS_UNIX
        Emulator panel;
        const QStringList args{"transfere",     "--pasta", m_dir.path(), "--porta", panel.device,
                               "--endereco",    "1",       "--usb",      "1",       "--texto",
                               QString(10, 'x')};
        const Run r = cliOnATerminal(args);
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QString("Transmissão bem sucedida.\n"));
        // 20 bytes, each 0.1 s after the one before: 2.1 s, counted down, wiped.
        QVERIFY2(r.err.startsWith("\rTransmitindo: 0 de 20 bytes, restam 3 s"), qPrintable(r.err));
        QVERIFY2(r.err.contains("restam 1 s"), qPrintable(r.err));
        QVERIFY2(QRegularExpression("\r +\r$").match(r.err).hasMatch(), qPrintable(r.err));
        QCOMPARE(panel.nextFrame(), "endereço 1, verificação certa: L" + QString(10, 'x'));
        const Run piped = cli(args);
        QCOMPARE(piped.status, 0);
        QVERIFY2(piped.err.isEmpty(), qPrintable(piped.err));
#endif
    }

    void conventions()
    {
        Run r = cli({"--version"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.startsWith("letreiro-cli 1."));
        // A dry run needs no port, not even one the settings name.
        writeFile(m_dir.filePath("cobalto.cfg"), " 9\r\n 2\r\n 0\r\n 0\r\n 0\r\n");
        qputenv("LETREIRO_PORTAS", "COM9=/dev/nao-existe");
        r = cli({"para", "--mostrar", "--pasta", m_dir.path()});
        qunsetenv("LETREIRO_PORTAS");
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QString("dados: 50\nquadro: 81 7E 05 00 02 00 FF FF 50 52\n"));
        QFile::remove(m_dir.filePath("cobalto.cfg"));
    }
};

QTEST_GUILESS_MAIN(TestIntegration)
#include "tst_integration.moc"
