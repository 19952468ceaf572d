#include "cp1252.h"

#include <QtTest>

class TestCp1252 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void everyByteSurvivesARoundTrip()
    {
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        QCOMPARE(cp1252::encode(cp1252::decode(all)), all);
    }

    void windowsCharactersOfTheHighRange()
    {
        QCOMPARE(cp1252::decode(QByteArray::fromHex("808182838485868788898A8B8C8D8E8F909192939495969798999A9B9C9D9E9F")),
                 QStringLiteral("€\u0081‚ƒ„…†‡ˆ‰Š‹Œ\u008DŽ\u008F\u0090‘’“”•–—˜™š›œ\u009DžŸ"));
        QCOMPARE(cp1252::encode(QStringLiteral("ação€")), QByteArray("a\xe7\xe3o\x80"));
    }

    void charactersWithoutACodeBecomeOneQuestionMark()
    {
        // A letter of another script, and one beyond the basic plane (two
        // UTF-16 units), are one character each.
        QCOMPARE(cp1252::encode(QStringLiteral("aЖb😀c")), QByteArray("a?b?c"));
    }

    // The C1 controls have no byte, their places hold other characters;
    // only the five bytes the code page leaves empty give their control back.
    void theByteOfACharacter_data()
    {
        QTest::addColumn<int>("unicode");
        QTest::addColumn<int>("byte");
        const QList<int> empty = {0x81, 0x8D, 0x8F, 0x90, 0x9D};
        for (int u = 0x80; u < 0xA0; ++u)
            QTest::addRow("U+%04X", u) << u << (empty.contains(u) ? u : -1);
        QTest::newRow("last ASCII") << 0x7F << 0x7F;
        QTest::newRow("first Latin-1 after C1") << 0xA0 << 0xA0;
        QTest::newRow("last Latin-1") << 0xFF << 0xFF;
        QTest::newRow("after Latin-1") << 0x100 << -1;
        QTest::newRow("euro, first of the table") << 0x20AC << 0x80;
        QTest::newRow("Y diaeresis, last of the table") << 0x0178 << 0x9F;
        QTest::newRow("Cyrillic") << 0x0416 << -1;
    }

    void theByteOfACharacter()
    {
        QFETCH(int, unicode);
        QFETCH(int, byte);
        QCOMPARE(cp1252::fromUnicode(QChar(char16_t(unicode))), byte);
        QCOMPARE(cp1252::encode(QString(QChar(char16_t(unicode)))),
                 QByteArray(1, byte < 0 ? '?' : char(byte)));
    }
};

QTEST_GUILESS_MAIN(TestCp1252)
#include "tst_cp1252.moc"
