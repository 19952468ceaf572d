// What a real line and real files can do to the tool: a far end that hangs
// up, files that are no files, and settings that would send to the wrong
// panels. Each ends with its reason, nothing reaching the line that should
// not. (How fast and how little memory is `make bench`'s to say.)
#include "clirunner.h"
#include "testfiles.h"

#include <QTemporaryDir>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

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
        const Run r =
            cli({"para", "--pasta", m_dir.path(), "--porta", panel.device, "--endereco", "1"});
        QCOMPARE(r.status, 1);
        QCOMPARE(r.out, QString("Falha na transmissão.\n"));
        // The port is gone, said so: no waiting out the answer's time-out.
        QVERIFY2(r.err.contains("a ligação foi interrompida"), qPrintable(r.err));
    }

    void filesThatAreNoMessages_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        const QString fifo = m_dir.filePath("fifo.msg");
        QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const QString big = m_dir.filePath("big.msg");
        writeFile(big, {});
        QVERIFY(QFile::resize(big, 50 * 1024 * 1024));
        QTest::newRow("device") << u"/dev/zero"_s << "não é um arquivo comum";
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
        const Run r = cli({"transfere", "--mostrar", "--pasta", m_dir.path(), path});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(reason), qPrintable(r.err));
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
        writeFile(cfg, " 1\r\n 3\r\n 0\r\n 0\r\n 0\r\n");
        QVERIFY(QFile::resize(cfg, 100 * 1024 * 1024));
        r = cli({"para", "--mostrar", "--pasta", dir.path()});
        QCOMPARE(r.out, QString("dados: 50\nquadro: 81 7E 05 00 03 00 FF FF 50 53\n"));
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
