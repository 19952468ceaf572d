// What a real line and real files can do to the tool: a far end that hangs
// up, a device that babbles, files that are no files, and settings that
// would send to the wrong panels. Each must end quickly, with little CPU
// and memory, and without anything reaching the line that should not.
#include "clirunner.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/stat.h>

namespace
{

// CPU seconds of the children reaped so far, and the largest one's memory.
struct ChildUsage {
    double cpu = 0;
    long maxRssKb = 0;
    static ChildUsage now()
    {
        rusage u{};
        getrusage(RUSAGE_CHILDREN, &u);
        return {double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                    double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6,
                u.ru_maxrss};
    }
};

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_message;

private Q_SLOTS:
    void initTestCase()
    {
        m_message = m_dir.filePath("ok.msg");
        writeFile(m_message, "{\\rtf1 Ola}");
    }

    void aHangUpIsALostPortAtOnce()
    {
        Emulator panel({"--resposta", "desliga"});
        const ChildUsage before = ChildUsage::now();
        QElapsedTimer clock;
        clock.start();
        const Run r =
            cli({"para", "--pasta", m_dir.path(), "--porta", panel.device, "--endereco", "1"});
        const double cpu = ChildUsage::now().cpu - before.cpu;
        QCOMPARE(r.status, 1);
        QCOMPARE(r.out, QString("Falha na transmissão.\n"));
        QVERIFY2(r.err.contains("a ligação foi interrompida"), qPrintable(r.err));
        // A tool that spun on the dead port until the answer's time-out would
        // burn most of ten seconds; start-up under the sanitizers costs a
        // fraction of one, so the bounds sit far from both.
        QVERIFY2(cpu < 2.0, qPrintable(QString::number(cpu)));
        QVERIFY(clock.elapsed() < 8000); // not the answer time-out: the port is gone
    }

    void filesThatAreNoMessages_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        const QString fifo = m_dir.filePath("fifo.msg");
        QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const QString big = m_dir.filePath("big.msg");
        QFile f(big);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(50 * 1024 * 1024));
        QTest::newRow("device") << "/dev/zero"
                                << "não é um arquivo comum";
        QTest::newRow("fifo without a writer") << fifo << "não é um arquivo comum";
        QTest::newRow("folder") << m_dir.path() << "é uma pasta";
        QTest::newRow("50 MB") << big << "grande demais";
        writeFile(m_dir.filePath("ruim.msg"), "isto não é RTF");
        QTest::newRow("not RTF") << m_dir.filePath("ruim.msg") << "Arquivo de mensagem inválido: ";
    }

    void filesThatAreNoMessages()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QElapsedTimer clock;
        clock.start();
        const Run r = cli({"transfere", "--mostrar", "--pasta", m_dir.path(), path});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(reason), qPrintable(r.err));
        QVERIFY(clock.elapsed() < 20000); // a reader stuck on the fifo or the device never ends
        QVERIFY(ChildUsage::now().maxRssKb < 400 * 1024);
    }

    void settingsFilesThatAreNoFiles()
    {
        QTemporaryDir dir;
        const QString cfg = dir.filePath("cobalto.cfg");
        QVERIFY(QFile::link("/dev/zero", cfg));
        Run r = cli({"para", "--mostrar", "--pasta", dir.path()});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("não é um arquivo comum"), qPrintable(r.err));
        // A huge file is read only as far as its first lines.
        QFile::remove(cfg);
        QFile f(cfg);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(" 1\r\n 3\r\n 0\r\n 0\r\n 0\r\n");
        QVERIFY(f.resize(100 * 1024 * 1024));
        f.close();
        r = cli({"para", "--mostrar", "--pasta", dir.path()});
        QCOMPARE(r.out, QString("dados: 50\nquadro: 81 7E 05 00 03 00 FF FF 50 53\n"));
        QVERIFY(ChildUsage::now().maxRssKb < 400 * 1024);
    }

    void addressesOutsideThePanelsAreNeverSent_data()
    {
        QTest::addColumn<QByteArray>("line");
        for (const char *a : {"32768", "40", "-1", "1e999"})
            QTest::newRow(a) << QByteArray(a);
    }

    void addressesOutsideThePanelsAreNeverSent()
    {
        QFETCH(QByteArray, line);
        QTemporaryDir dir;
        writeFile(dir.filePath("cobalto.cfg"), " 1\r\n" + line + "\r\n 0\r\n 0\r\n 0\r\n");
        Emulator panel;
        const Run r = cli({"para", "--pasta", dir.path(), "--porta", panel.device});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("cobalto.cfg") && r.err.contains(QString::fromLatin1(line)),
                 qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        QVERIFY(!panel.process().waitForReadyRead(300)); // no frame reached the line
        // The values the reading turns into 0 to 31 still go out as before.
        writeFile(dir.filePath("cobalto.cfg"), " 1\r\n01\r\n");
        QCOMPARE(cli({"para", "--pasta", dir.path(), "--porta", panel.device}).status, 0);
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
