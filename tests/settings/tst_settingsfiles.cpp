#include "settingsfiles.h"
#include "settingsfolder.h"
#include "testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestSettingsFiles : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void readsNumbersAsTheFilesAlwaysWere_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("value");
        QTest::newRow("leading blank") << QByteArray(" 1") << 1;
        QTest::newRow("two blanks and a zero") << QByteArray("  07") << 7;
        QTest::newRow("negative") << QByteArray("-3") << -3;
        QTest::newRow("blanks inside") << QByteArray("1 2\t3") << 123;
        QTest::newRow("trailing text") << QByteArray("12abc") << 12;
        QTest::newRow("no number") << QByteArray("abc") << 0;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("half to even down") << QByteArray("2.5") << 2;
        QTest::newRow("half to even up") << QByteArray("3.5") << 4;
        QTest::newRow("negative half") << QByteArray("-2.5") << -2;
        QTest::newRow("fraction only") << QByteArray(".6") << 1;
        QTest::newRow("exponent") << QByteArray("1e2") << 100;
        QTest::newRow("exponent without digits") << QByteArray("7e") << 7;
        QTest::newRow("lone sign") << QByteArray("-") << 0;
        QTest::newRow("edge of range") << QByteArray("-32768") << -32768;
        QTest::newRow("other edge") << QByteArray("32767") << 32767;
        QTest::newRow("half to even at the edge") << QByteArray("-32768.5") << -32768;
        QTest::newRow("plus sign") << QByteArray(" +5") << 5;
        QTest::newRow("plus apart") << QByteArray("+ 5") << 5;
        QTest::newRow("two signs") << QByteArray("+-5") << 0;
        QTest::newRow("exponent with plus") << QByteArray("+1e+2") << 100;
    }

    void readsNumbersAsTheFilesAlwaysWere()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, value);
        qint16 v = 99;
        QVERIFY(settingsfiles::readInt16(line, &v));
        QCOMPARE(int(v), value);
    }

    void valuesBeyondSixteenBitsLeaveTheVariable()
    {
        for (const char *line : {"32768", "32767.5", "-32769", "1e999", "99999999999999999999"}) {
            qint16 v = 5;
            QVERIFY(!settingsfiles::readInt16(line, &v));
            QCOMPARE(v, qint16(5));
        }
    }

    // An address the panels cannot have is never used; the last good one is.
    void addressesOutsideThePanelsAreProblems_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<bool>("problem");
        QTest::newRow("31") << QByteArray(" 31") << false;
        QTest::newRow("0") << QByteArray(" 0") << false;
        QTest::newRow("32") << QByteArray(" 32") << true;
        QTest::newRow("-1") << QByteArray("-1") << true;
    }

    void addressesOutsideThePanelsAreProblems()
    {
        QFETCH(QByteArray, address);
        QFETCH(bool, problem);
        QTemporaryDir dir;
        QFile f(dir.filePath("cobalto.cfg"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(" 1\r\n" + address + "\r\n 0\r\n 0\r\n 0\r\n");
        f.close();
        Settings s;
        QString why;
        QVERIFY(SettingsFiles(dir.path())
                    .loadConfig(s, SettingsFiles::Missing::Skip, nullptr, nullptr, &why));
        QCOMPARE(!why.isEmpty(), problem);
    }

    void firstStartCreatesTheFilesByteForByte()
    {
        QTemporaryDir dir;
        const SettingsFiles files(dir.path());
        Settings s;
        QString address;
        QVERIFY(files.loadConfig(s, SettingsFiles::Missing::Create, &address));
        QVERIFY(files.loadPassword(s, SettingsFiles::Missing::Create));
        QVERIFY(files.loadUsbAdapter(s, SettingsFiles::Missing::Create));
        QVERIFY(files.loadTips(s, SettingsFiles::Missing::Create));
        QCOMPARE(contents(files.path("cobalto.cfg")), QByteArray(" 1\r\n 0\r\n 0\r\n 0\r\n 0\r\n"));
        QCOMPARE(contents(files.path("cobalto.dat")), QByteArray("cobalto\r\n"));
        QCOMPARE(contents(files.path("usb232.dat")), QByteArray("0\r\n"));
        QCOMPARE(contents(files.path("qvrtip.dat")), QByteArray("0\r\n"));
        QCOMPARE(s.portNumber, qint16(1));
        QCOMPARE(address, QStringLiteral("0"));
        QCOMPARE(s.accessPassword, QStringLiteral("cobalto"));
        QCOMPARE(s.tipTexts.size(), 102);
        QCOMPARE(s.tipTexts[1], QStringLiteral("Arquivo de dicas não encontrado."));
    }

    void readsHandWrittenFiles()
    {
        QTemporaryDir dir;
        const SettingsFiles files(dir.path());
        writeFile(files.path("cobalto.cfg"), " 3\r\n  07\r1\n 6\r\n");
        writeFile(files.path("cobalto.dat"), " Senha \xe9\r\nsecond line\r\n");
        Settings s;
        s.temperatureOption = 4; // line 5 is missing: the value stays
        QString address;
        QVERIFY(files.loadConfig(s, SettingsFiles::Missing::Skip, &address));
        QCOMPARE(s.portNumber, qint16(3));
        QCOMPARE(s.panelAddress, qint16(7));
        QCOMPARE(address, QStringLiteral("07"));
        QCOMPARE(s.tipsHidden, qint16(1));
        QCOMPARE(s.panelType, qint16(6));
        QCOMPARE(s.temperatureOption, qint16(4));
        QVERIFY(files.loadPassword(s, SettingsFiles::Missing::Skip));
        QCOMPARE(s.accessPassword, QStringLiteral(" Senha é"));
        // Skip leaves a missing file missing.
        QVERIFY(files.loadUsbAdapter(s, SettingsFiles::Missing::Skip));
        QVERIFY(!QFile::exists(files.path("usb232.dat")));
    }

    void tipsStopAtAHundred()
    {
        QTemporaryDir dir;
        const SettingsFiles files(dir.path());
        QByteArray tips("250\r\n");
        for (int i = 1; i <= 250; ++i)
            tips += "Dica " + QByteArray::number(i) + "\r\n";
        writeFile(files.path("qvrtip.dat"), tips);
        Settings s;
        QVERIFY(files.loadTips(s, SettingsFiles::Missing::Skip));
        QCOMPARE(s.tipTexts[1], QStringLiteral("Dica 1"));
        QCOMPARE(s.tipTexts[100], QStringLiteral("Dica 100"));
        QVERIFY(s.tipTexts[101].isEmpty());
        QVERIFY(s.tipTexts[0].isEmpty());

        writeFile(files.path("qvrtip.dat"), "-2\r\nDica\r\n");
        Settings n;
        QVERIFY(files.loadTips(n, SettingsFiles::Missing::Skip));
        QVERIFY(n.tipTexts[1].isEmpty()); // a negative count loads nothing, says nothing
    }

    void writesTheFormsThatOthersRead()
    {
        QTemporaryDir dir;
        const SettingsFiles files(dir.path());
        Settings s;
        s.portNumber = 2;
        s.panelAddress = 17;
        s.tipsHidden = 0;
        s.panelType = 6;
        s.temperatureOption = -1;
        QVERIFY(files.saveConfig(s));
        QCOMPARE(contents(files.path("cobalto.cfg")),
                 QByteArray(" 2\r\n 17\r\n 0\r\n 6\r\n-1\r\n"));
        QVERIFY(files.saveUsbAdapter(1));
        QCOMPARE(contents(files.path("usb232.dat")), QByteArray("1\r\n"));
        QVERIFY(files.savePassword(QStringLiteral(" ação")));
        QCOMPARE(contents(files.path("cobalto.dat")), QByteArray(" a\xe7\xe3o\r\n"));
        // An empty password would let anybody in: refused, nothing written.
        QString why;
        QVERIFY(!files.savePassword(QString(), &why));
        QCOMPARE(why, QString("A nova senha não pode ficar vazia."));
        // One the file's code page cannot hold would fail from then on: the same.
        QVERIFY(!files.savePassword(QStringLiteral("ação€✓"), &why));
        QVERIFY(why.startsWith("A senha tem um caractere que não pode ser gravado"));
        QCOMPARE(contents(files.path("cobalto.dat")), QByteArray(" a\xe7\xe3o\r\n"));
    }

    void aFailedWriteIsReported()
    {
        const SettingsFiles files(QStringLiteral("/nonexistent-letreiro/folder"));
        QString error;
        QVERIFY(!files.saveConfig(Settings(), &error));
        QVERIFY(error.contains(QStringLiteral("cobalto.cfg")));
        // Reading creates the missing file; failing that, the values stay.
        Settings s;
        s.portNumber = 4;
        QVERIFY(!files.loadConfig(s, SettingsFiles::Missing::Create, nullptr, &error));
        QCOMPARE(s.portNumber, qint16(4));
    }

    void settingsFolderRule()
    {
        QTemporaryDir writable;
        QCOMPARE(settingsFolder(writable.path()), QDir(writable.path()).absolutePath());
        // A folder that cannot be written sends the settings to the user's
        // data folder.
        QCOMPARE(settingsFolder(QStringLiteral("/nonexistent-letreiro")), perUserSettingsFolder());
        // An installed layout uses the user's folder even when it could write
        // its own; settings files already standing there win.
        QVERIFY(QDir(writable.path()).mkpath("share/letreiro") &&
                QDir(writable.path()).mkpath("bin"));
        QFile(writable.filePath("share/letreiro/qvrtip.dat")).open(QIODevice::WriteOnly);
        QCOMPARE(settingsFolder(writable.filePath("bin")), perUserSettingsFolder());
        QFile(writable.filePath("bin/cobalto.cfg")).open(QIODevice::WriteOnly);
        QCOMPARE(settingsFolder(writable.filePath("bin")), writable.filePath("bin"));
        QVERIFY(perUserSettingsFolder().endsWith(QStringLiteral("/Letreiro")));
        QVERIFY(QFileInfo(perUserSettingsFolder()).isDir());
    }
};

QTEST_GUILESS_MAIN(TestSettingsFiles)
#include "tst_settingsfiles.moc"
