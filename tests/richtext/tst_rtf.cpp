#include "messagefile.h"
#include "rtfreader.h"
#include "rtfwriter.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace
{

constexpr ColourRef kRed = rgbColour(255, 0, 0);
constexpr ColourRef kGrey = rgbColour(192, 192, 192);
constexpr ColourRef kGreen = rgbColour(0, 255, 0);

QByteArray readData(const char *name)
{
    QFile f(QStringLiteral(LETREIRO_TEST_DATA "/") + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly)) qFatal("missing test data %s", name);
    return f.readAll();
}

RichText read(QByteArrayView rtf)
{
    const RtfReadResult r = readRtf(rtf);
    if (!r.ok) qWarning() << r.error;
    return r.text;
}

} // namespace

class TestRtf : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readsWhatRichEditWrites()
    {
        const RichText t = read(readData("msftedit.msg"));
        QCOMPARE(t.plainText(), u"<Roda_Cima__>Olá mundo €"_s);
        QCOMPARE(t.alignment(), Alignment::Right);
        // The tag: brackets red and plain, name grey and underlined.
        QCOMPARE(t.at(0).format.colour, kRed);
        QVERIFY(!t.at(0).format.underline);
        for (int i = 1; i <= 11; ++i) {
            QCOMPARE(t.at(i).format.colour, kGrey);
            QVERIFY(t.at(i).format.underline);
        }
        QVERIFY(!t.at(12).format.underline);
        QCOMPARE(t.at(13).format.colour, kGreen); // "Olá" green and bold
        QVERIFY(t.at(15).format.bold);
        QVERIFY(!t.at(16).format.bold);
        QCOMPARE(t.at(0).format.pointSize, 20.5);
    }

    void readsWhatTheOlderRichEditWrites()
    {
        // No leading ";" in the colour table, \plain everywhere, and the
        // final paragraph mark on a line of its own.
        const RichText t = read(readData("riched1.msg"));
        QCOMPARE(t.plainText(), u"<Pausa______>AB\tC\nLinha 2"_s);
        QCOMPARE(t.at(0).format.colour, kRed);
        QCOMPARE(t.at(1).format.colour, kGrey);
        QCOMPARE(t.at(13).format.colour, ColourRef(0));
        QVERIFY(t.at(14).format.bold);
        QCOMPARE(t.at(14).format.pointSize, 10.0);
        QCOMPARE(t.alignment(), Alignment::Left);
    }

    void skipsWhatIsNotText()
    {
        const RichText t = read("{\\rtf1{\\*\\unknowndest secret}{\\info{\\title T}}"
                                "\\madeupword12 A{\\fldinst HYPERLINK x}{\\fldrslt B}"
                                "\\bin3 {}}C\\uc2\\u1046\\'3f\\'3fD\\uc1\\u-3873?\\{\\}\\\\}");
        QCOMPARE(t.plainText(), u"ABC"_s + QChar(0x0416) + u"D"_s + QChar(0xF0DF) + u"{}\\"_s);
    }

    void roundTripKeepsTextAndFormatting()
    {
        QRandomGenerator rng(42);
        const QString alphabet = u"AZaz09 <>_\\{}\t\nçãéÇ€“Ж"_s + QChar(0xD83D) + QChar(0xDE00);
        for (int round = 0; round < 20; ++round) {
            RichText t;
            t.setAlignment(round % 2 ? Alignment::Right : Alignment::Left);
            for (int i = 0; i < 200; ++i) {
                CharFormat f;
                f.colour = rng.bounded(4) == 0 ? 0 : rng.bounded(1u << 24);
                f.bold = rng.bounded(2);
                f.underline = rng.bounded(2);
                f.pointSize = 4 + rng.bounded(120) / 2.0;
                t.append(alphabet[rng.bounded(int(alphabet.size()))], f);
            }
            const QByteArray rtf = writeRtf(t);
            QVERIFY(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1252"));
            const RtfReadResult back = readRtf(rtf);
            QVERIFY2(back.ok, qPrintable(back.error));
            QCOMPARE(back.text.plainText(), t.plainText());
            QVERIFY(back.text == t);
        }
        // Black is the automatic colour: no table for it.
        QVERIFY(!writeRtf(RichText::fromPlain("a")).contains("colortbl"));
        // A size between half points (a zoomed font) goes to the nearest one,
        // and one a file could not hold to the nearest that it can, never to
        // \fs0, which a reader takes for "no size".
        CharFormat between;
        for (const auto &[points, word] : {std::pair{10.8, "\\fs22 a"}, {0.2, "\\fs1 a"},
                                           {2000.0, "\\fs3276 a"}}) {
            between.pointSize = points;
            QVERIFY2(writeRtf(RichText::fromPlain("a", between)).contains(word), word);
        }
        // Outside Windows-1252, \uN is a signed 16-bit number, as RichEdit
        // writes and reads it: from U+8000 up it is negative.
        const QString wide = QString::fromUtf16(u"\u0416\u7FFF\u8000\uFFFF\U0001F600");
        QVERIFY(writeRtf(RichText::fromPlain(wide))
                    .contains(" \\u1046?\\u32767?\\u-32768?\\u-1?\\u-10179?\\u-8704?\\par"));
    }

    void oneLineStaysOneLine()
    {
        // RichEdit's closing paragraph mark is no part of the text, but a
        // line break that the message really ends with is.
        for (const QString &s : {u"AB"_s, u"AB\n"_s, QString(), u"\n\n"_s}) {
            const RichText t = RichText::fromPlain(s);
            QCOMPARE(read(writeRtf(t)).plainText(), s);
            QCOMPARE(read(writeRtf(read(writeRtf(t)))).plainText(), s);
        }
        // A piece of the model: to the end for a negative or long length,
        // nothing from past the end.
        const RichText abc = RichText::fromPlain("abc");
        for (const auto &[pos, len, piece] : {std::tuple{1, -1, "bc"}, {1, 99, "bc"}, {-2, 2, "ab"},
                                              {3, 1, ""}, {9, -1, ""}, {0, 0, ""}})
            QCOMPARE(abc.mid(pos, len).plainText(), QString(piece));
    }

    void badInputGivesAMessage_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("plain text") << QByteArray("Bom dia");
        QTest::newRow("truncated") << readData("msftedit.msg").left(150);
        QTest::newRow("unclosed group") << QByteArray("{\\rtf1 {\\b A}");
        QTest::newRow("deep nesting") << QByteArray("{\\rtf1 ") + QByteArray(100000, '{');
        QTest::newRow("a group past the deepest") << "{\\rtf1" + QByteArray(1000, '{') + QByteArray(1001, '}');
        QTest::newRow("backslash at end") << QByteArray("{\\rtf1 A\\");
        QTest::newRow("half a hex escape") << QByteArray("{\\rtf1 A\\'4");
    }

    void badInputGivesAMessage()
    {
        QFETCH(QByteArray, input);
        const RtfReadResult r = readRtf(input);
        QVERIFY(!r.ok);
        QVERIFY2(r.error.startsWith(u"Arquivo de mensagem inválido: "_s), qPrintable(r.error));
    }

    // Written by other programs: a colour table whose last entry has no
    // ";", and an underline ended by \ul0.
    void lastColourAndTheEndOfAnUnderline()
    {
        const RichText t =
            read("{\\rtf1{\\colortbl ;\\red0\\green128\\blue0}\\cf1 A\\ul B\\ul0 C}");
        QCOMPARE(t.plainText(), u"ABC"_s);
        QCOMPARE(t.at(0).format.colour, rgbColour(0, 128, 0));
        QVERIFY(t.at(1).format.underline);
        QVERIFY(!t.at(2).format.underline);
    }

    // Half points; a size of nothing or below is no size: the default 12.
    void fontSizes_data()
    {
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<double>("points");
        QTest::newRow("zero") << QByteArray("\\fs0") << 12.0;
        QTest::newRow("negative") << QByteArray("\\fs-4") << 12.0;
        QTest::newRow("without a number") << QByteArray("\\fs40\\fs") << 12.0;
        QTest::newRow("smallest") << QByteArray("\\fs1") << 0.5;
        QTest::newRow("largest") << QByteArray("\\fs3276") << 1638.0;
        QTest::newRow("beyond the largest") << QByteArray("\\fs3277") << 1638.0;
        QTest::newRow("after \\plain") << QByteArray("\\fs40\\plain") << 12.0;
    }

    void fontSizes()
    {
        QFETCH(QByteArray, word);
        QFETCH(double, points);
        QCOMPARE(read("{\\rtf1" + word + " A}").at(0).format.pointSize, points);
    }

    // Up to the limit a file is read whole; a byte more is refused, or cut
    // when only its start is wanted; what is no regular file is not opened.
    void smallFiles_data()
    {
        QTest::addColumn<QString>("path"); // empty: a file of `size` bytes
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("refuseLarger");
        QTest::addColumn<QString>("error");
        QTest::newRow("the limit") << QString() << 2048 << true << QString();
        QTest::newRow("a byte more")
            << QString() << 2049 << true << "o arquivo é grande demais (mais de 2 KB)";
        QTest::newRow("its start") << QString() << 2049 << false << QString();
        QTest::newRow("a device") << "/dev/null" << 0 << true << "não é um arquivo comum";
        QTest::newRow("a folder") << "/" << 0 << true << "é uma pasta, não um arquivo";
    }

    void smallFiles()
    {
        QFETCH(QString, path);
        QFETCH(int, size);
        QFETCH(bool, refuseLarger);
        QFETCH(QString, error);
        QTemporaryDir dir;
        if (path.isEmpty()) {
            path = dir.filePath("m.msg");
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray(size, 'x')) == size);
        }
        const SmallFileRead r = messagefile::readSmallFile(path, 2048, refuseLarger);
        QCOMPARE(r.error, error);
        QCOMPARE(r.ok, error.isEmpty());
        QCOMPARE(r.data, QByteArray(error.isEmpty() ? qMin(size, 2048) : 0, 'x'));
    }

    // A file that cannot be found says where the trouble is.
    void whyAFileIsMissing()
    {
        QTemporaryDir dir;
        QFile(dir.filePath("arquivo")).open(QIODevice::WriteOnly);
        QFile::link(dir.filePath("laco"), dir.filePath("laco"));
        for (const auto &[name, why] :
             {std::pair{"nada.msg", "o arquivo não existe"},
              {"pasta/nada.msg", "a pasta do arquivo não existe"},
              {"arquivo/nada.msg", "uma parte do caminho não é uma pasta"},
              {"laco", "o link simbólico leva a ele mesmo (um laço)"}})
            QCOMPARE(messagefile::whyMissing(dir.filePath(name)), QString(why));
    }

    void oddButReadableInput()
    {
        // Absurd numbers are clamped, stray closing braces end the document,
        // binary junk is read as characters without harm.
        QVERIFY(readRtf("{\\rtf1\\fs99999999999999999999 \\cf-99999999999 \\u99999999 "
                        "\\uc999999999 A}")
                    .ok);
        QVERIFY(readRtf("{\\rtf1" + QByteArray(999, '{') + "A" + QByteArray(1000, '}')).ok); // the deepest

        QCOMPARE(read("{\\rtf1 A}}}junk").plainText(), u"A"_s);
        // A \u beyond 16 bits either way is no character, and its fallback is skipped.
        QCOMPARE(read("{\\rtf1 a\\u65536?b\\u-65537?c}").plainText(), u"abc"_s);
        QByteArray junk("{\\rtf1 ");
        QRandomGenerator rng(7);
        for (int i = 0; i < 100000; ++i) {
            const char c = char(rng.bounded(256));
            if (c != '{' && c != '}') junk.append(c);
        }
        junk.append('}');
        QVERIFY(readRtf(junk).ok);
    }
};

QTEST_GUILESS_MAIN(TestRtf)
#include "tst_rtf.moc"
