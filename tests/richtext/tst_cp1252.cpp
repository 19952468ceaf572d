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
        QCOMPARE(cp1252::decode("\x80\x93\x94\x9f"), QStringLiteral("€“”Ÿ"));
        QCOMPARE(cp1252::encode(QStringLiteral("ação€")), QByteArray("a\xe7\xe3o\x80"));
    }

    void charactersWithoutACodeBecomeOneQuestionMark()
    {
        // A letter of another script, and one beyond the basic plane (two
        // UTF-16 units), are one character each.
        QCOMPARE(cp1252::encode(QStringLiteral("aЖb😀c")), QByteArray("a?b?c"));
        QCOMPARE(cp1252::fromUnicode(QChar(0x0416)), -1);
    }
};

QTEST_GUILESS_MAIN(TestCp1252)
#include "tst_cp1252.moc"
