#include "cp1252.h"
#include "encoder.h"
#include "wiredecoder.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace
{
QByteArray letters(char from, char to)
{
    QByteArray s;
    for (char c = from; c <= to; ++c)
        s.append(c);
    return s;
}
} // namespace

class TestEncoder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void encodes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("panelType");
        QTest::addColumn<QByteArray>("wire");
        const QString az = QString::fromLatin1(letters('A', 'N'));
        QTest::newRow("space after width 12")
            << "<Neve_______>" + az << 0 << "\xCF" + letters('A', 'L') + " MN";
        QTest::newRow("no space on wide panels (30)")
            << "<Neve_______>" + az << 2 << "\xCF" + letters('A', 'N');
        QTest::newRow("no space on wide panels (>30)")
            << "<Neve_______>" + az << 6 << "\xCF" + letters('A', 'N');
        QTest::newRow("any tag stops the count")
            << "<Roda_Cima__>AB<Pausa______>CD" << 5 << QByteArray("\xCC") + "AB\xB0" + "CD";
        QTest::newRow("short run adds nothing")
            << "<Roda_Cima__>ABC" << 3 << QByteArray("\xCC") + "ABC";
        QTest::newRow("run exactly the width")
            << "<Come_______>ABCDE" << 3 << QByteArray("\xCE") + "ABCDE ";
        QTest::newRow("a new prefix restarts the count")
            << "<Come_______>ABC<Onda_______>DEFGH" << 3
            << QByteArray("\xCE") + "ABC\xC8" + "DEFGH ";
        QTest::newRow("shared temperature code")
            << "<Temperatura><AbreDireita>" << 0 << QByteArray("\xBE\xBE");
        QTest::newRow("reserved tags vanish and stop a count")
            << "<Neve_______>AB<Linha_2____><Apaga.Tela_>CDEFGHIJKLMN" << 0
            << "\xCF" + letters('A', 'N');
        QTest::newRow("names are case-sensitive") << "<pausa______>" << 0 << QByteArray();
        QTest::newRow("too short for a tag") << "<ABC>" << 0 << QByteArray("<ABC>");
        QTest::newRow("< near the end") << "AB<Pausa______" << 0 << QByteArray("AB<Pausa______");
        QTest::newRow("accents lower case") << "ação" << 0 << QByteArray("a\x0C\x04o");
        QTest::newRow("accents capitals") << "AÇÃO" << 0 << QByteArray("A\x0C\x04O");
        QTest::newRow("every accented letter")
            << "àáâãéêíóôõúçñÀÁÂÃÉÊÍÓÔÕÚÇÑ" << 0
            << QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D"
                          "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D");
        QTest::newRow("other accents kept") << "èüö" << 0 << QByteArray("\xE8\xFC\xF6");
        QTest::newRow("empty gives one space") << "" << 0 << QByteArray(" ");
        QTest::newRow("no Windows-1252 code") << "AЖB" << 0 << QByteArray("A?B");
        QTest::newRow("unknown panel type counts nothing")
            << "<Neve_______>" + az << 99 << "\xCF" + letters('A', 'N');
    }

    void encodes()
    {
        QFETCH(QString, text);
        QFETCH(int, panelType);
        QFETCH(QByteArray, wire);
        QCOMPARE(encodeMessage(cp1252::encode(text), panelType), wire);
    }

    // As the emulator prints them: every byte readable, no control byte as itself.
    void decodesWhatTheWireCarries()
    {
        QCOMPARE(decodeWireData(QByteArray("\xCF\x01\x0D\xFE") + "A"), u"<Neve_______>àñ[E]A"_s);
        QCOMPARE(decodeWireData(QByteArray("\x00\x0E\x1F\x7F", 4)), u"\\x00\\x0E\\x1F\\x7F"_s);
        QCOMPARE(decodeWireData(QByteArray("\x20\x80\xE8~", 4)), u" €è~"_s);
    }

    void markersCountAsCharacters()
    {
        // After a prefix, a run of expanded letters counts each letter and
        // its marker: on a 12-character panel the space follows the sixth.
        QByteArray field("L<Roda_Cima__>");
        for (char c = 'A'; c <= 'H'; ++c)
            field.append('\xFE').append(c);
        QCOMPARE(encodeMessage(field, 0), QByteArray("L\xCC\xFE") + "A\xFE" + "B\xFE" + "C\xFE" +
                                              "D\xFE" + "E\xFE" + "F \xFE" + "G\xFE" + "H");
    }

    void tagCodeStartsTheCountOnlyForPrefixes()
    {
        MessageEncoder e;
        QCOMPARE(e.charsAfterPrefix(), MessageEncoder::kNoCount);
        QCOMPARE(e.tagCode("Pausa______"), std::optional<quint8>(0xB0));
        QCOMPARE(e.charsAfterPrefix(), MessageEncoder::kNoCount);
        QCOMPARE(e.tagCode("Display____"), std::optional<quint8>(0xCA));
        QCOMPARE(e.charsAfterPrefix(), qint16(0));
        QCOMPARE(e.tagCode("Pisca.Tela_"), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestEncoder)
#include "tst_encoder.moc"
