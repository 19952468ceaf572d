#include "encoder.h"
#include "flatten.h"
#include "messages.h"
#include "sendcheck.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace
{

CharFormat fmt(bool bold, bool underline = false)
{
    CharFormat f;
    f.bold = bold;
    f.underline = underline;
    return f;
}

} // namespace

class TestFlatten : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void lineBreaksAndTabsGo()
    {
        RichText t = RichText::fromPlain("AB\r\nC\tD\n");
        t.append("\n\t", fmt(true)); // expanded, still no marker
        QCOMPARE(loadCommandField(t), QByteArray("LABCD"));
        QCOMPARE(loadCommandField(RichText::fromPlain("\n\t\n")), QByteArray("L"));
    }

    void expandedCharactersGetTheMarker()
    {
        RichText t;
        t.append("AB", fmt(true));
        QCOMPARE(loadCommandField(t), QByteArray("L\xFE" "A\xFE" "B"));
    }

    void tagsInAnExpandedStretchGetNoMarker()
    {
        const RichText t = Message().text("X", kRed, true).tag("<Pausa______>", kRed, true);
        QCOMPARE(loadCommandField(t), QByteArray("L\xFE" "X<Pausa______>"));
        QCOMPARE(encodeMessage(loadCommandField(t), 0), QByteArray("L\xFE" "X\xB0"));
    }

    void typedBracketsInAnExpandedStretchAreMarked()
    {
        // A bold "<" typed by hand before a plain letter, and the brackets at
        // the very ends of the text, which have no neighbour to look at.
        RichText t;
        t.append(">", fmt(true));
        t.append("<a", fmt(true));
        t.append("<", fmt(true));
        QCOMPARE(flattenMessage(t), QByteArray("\xFE>\xFE<\xFE" "a\xFE<"));
    }

    void charactersWithoutACodeAreOneQuestionMark()
    {
        RichText t;
        t.append(u"aЖ😀é"_s, fmt(false));
        t.append(u"😀"_s, fmt(true));
        QCOMPARE(flattenMessage(t), QByteArray("a??\xE9\xFE?"));
    }

    void longMessagesAreNotLimitedTo16Bits()
    {
        const RichText t = RichText::fromPlain(QString(40000, QLatin1Char('x')));
        QCOMPARE(flattenMessage(t).size(), 40000);
    }

    // Typed by name, a known tag gets its name underlined, and nothing else does.
    void typedTagsAreUnderlinedByName_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("underlined");
        QTest::newRow("middle") << "a<Pausa______>b" << "..^^^^^^^^^^^..";
        QTest::newRow("whole text") << "<Pausa______>" << ".^^^^^^^^^^^.";
        QTest::newRow("side by side") << "<Pisca______><Pausa______>"
                                      << ".^^^^^^^^^^^..^^^^^^^^^^^.";
        QTest::newRow("unknown name") << "<Nenhum_____>" << ".............";
        QTest::newRow("not closed") << "<Pausa______ >" << "..............";
    }
    void typedTagsAreUnderlinedByName()
    {
        QFETCH(QString, typed);
        QFETCH(QString, underlined);
        const RichText r = typedMessage(typed);
        QString mask;
        for (qsizetype i = 0; i < r.size(); ++i)
            mask += r.isUnderlined(i) ? u'^' : u'.';
        QCOMPARE(mask, underlined);
    }

    // What the panel gets is what the warnings describe: the same bytes the
    // frame carries, read back; the CLI and the service say it in one voice.
    void whatThePanelReceivesIsSaid()
    {
        using sendcheck::differences;
        QVERIFY(differences(RichText::fromPlain("Bom dia <Pisca______>ação\n"), 0).isEmpty());
        QStringList d = differences(RichText::fromPlain("Seta →\nfim\t"), 0);
        QCOMPARE(d.size(), 2);
        QVERIFY2(d[0].contains("→") && d[1].contains("quebras de linha"), qPrintable(d.join('|')));
        QVERIFY(differences(RichText::fromPlain("→"), 0).value(0).contains("→"));

        sendcheck::Received r = sendcheck::received(RichText::fromPlain("→ 25°C\nÉ"), 0);
        QCOMPARE(r.text, u"? 25<Pausa______>Cé"_s);
        QCOMPARE(r.used, 8); // "L" and 7 encoded characters
        QCOMPARE(r.limit, 7500);

        // A frame's worth exactly (the command's letter and 7,499
        // characters) goes whole; one character more is cut and said.
        QCOMPARE(sendcheck::size(RichText::fromPlain(QString(7499, u'x')), 0).used, 7500);
        QVERIFY(differences(RichText::fromPlain(QString(7499, u'x')), 0).isEmpty());
        QCOMPARE(differences(RichText::fromPlain(QString(7500, u'x')), 0).size(), 1);

        // Cut at a frame: the warning counts the characters that arrive, and
        // those are exactly what the frame holds.
        const RichText longText =
            RichText::fromPlain(QString(3000, u'x') + "<Pisca______>" + QString(5000, u'y'));
        d = differences(longText, 0);
        QCOMPARE(d.size(), 1);
        QVERIFY2(d[0].contains("7500") && d[0].contains("primeiros 7511 caracteres"),
                 qPrintable(d[0]));
        r = sendcheck::received(longText, 0);
        QCOMPARE(r.data.size(), r.limit); // cut; `used` says how much it was before
        QCOMPARE(r.used, sendcheck::size(longText, 0).used);
        QVERIFY(r.used > r.limit);
        QCOMPARE(r.text, QString(3000, u'x') + "<Pisca______>" + QString(4498, u'y'));
    }
};

QTEST_GUILESS_MAIN(TestFlatten)
#include "tst_flatten.moc"
