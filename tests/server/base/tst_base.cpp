// What every part of the service shares: text from outside made safe for
// one line of the log, and address lists read and matched in one place.
#include "logging.h"
#include "subnets.h"
#include "wholefile.h"

#include <QtTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

class TestBase : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void printableKeepsALogLineOneLine_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("logged");
        QTest::newRow("plain, accents kept") << QByteArray("promoção") << 200 << "promoção";
        QTest::newRow("a forged line") << QByteArray("x\nletreiro: y") << 200
                                       << "x\\x0aletreiro: y";
        QTest::newRow("carriage return and escape") << QByteArray("a\r\x1b[2J") << 200
                                                    << "a\\x0d\\x1b[2J";
        QTest::newRow("a backslash is doubled, so \\x0a is never ambiguous")
            << QByteArray("a\\x0a") << 200 << "a\\\\x0a";
        QTest::newRow("invisible and line separators")
            << QString("a\u202Eb\u2028c").toUtf8() << 200 << "a\\u202eb\\u2028c";
        QTest::newRow("not UTF-8: each byte said") << QByteArray("a\xff\xfe") << 200
                                                   << "a\\xff\\xfe";
        QTest::newRow("at the limit") << QByteArray("abc") << 3 << "abc";
        QTest::newRow("one past it") << QByteArray("abcd") << 3 << "abc…";
    }
    void printableKeepsALogLineOneLine()
    {
        QFETCH(QByteArray, raw);
        QFETCH(int, limit);
        QFETCH(QString, logged);
        QCOMPARE(logging::printable(raw, limit), logged);
    }

    void subnets_data()
    {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("peer");
        QTest::addColumn<bool>("inside");
        const QStringList lan{"192.168.10.0/24", "::1"};
        QTest::newRow("in the network") << lan << "192.168.10.77" << true;
        QTest::newRow("the next network") << lan << "192.168.11.1" << false;
        QTest::newRow("IPv4 through an IPv6 socket") << lan << "::ffff:192.168.10.5" << true;
        QTest::newRow("an address alone") << lan << "::1" << true;
        QTest::newRow("a single IPv4 address") << QStringList{"10.0.0.5"} << "10.0.0.6" << false;
    }
    void subnets()
    {
        QFETCH(QStringList, list);
        QFETCH(QString, peer);
        QFETCH(bool, inside);
        const Result<Subnets> nets = Subnets::parse(list);
        QVERIFY(nets);
        QCOMPARE(nets->contains(QHostAddress(peer)), inside);
        // A list with one item that is no address is refused whole, named.
        const Result<Subnets> bad = Subnets::parse(list + QStringList{" rede "});
        QVERIFY(!bad);
        QCOMPARE(bad.why(), QString("rede"));
    }

#ifdef Q_OS_UNIX
    // Started with its standard input closed (`<&-`), the first file the
    // service opens is descriptor 0: a file like any other.
    void aWholeFileWithTheStandardInputClosed()
    {
        QTemporaryDir dir;
        const int input = ::dup(0);
        ::close(0);
        const Result<> written = wholefile::write(dir.filePath("estado.json"), "{}");
        ::dup2(input, 0);
        ::close(input);
        QVERIFY2(written, qPrintable(written.why()));
        QFile f(dir.filePath("estado.json"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("{}"));
    }
#endif
};

QTEST_GUILESS_MAIN(TestBase)
#include "tst_base.moc"
