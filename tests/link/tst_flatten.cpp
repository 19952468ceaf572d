#include "encoder.h"
#include "flatten.h"
#include "messages.h"

#include <QtTest>

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
        QCOMPARE(loadCommandField(t), QByteArray("LABCD"));
        t.append("\n\t", fmt(true));
        QCOMPARE(loadCommandField(RichText::fromPlain("\n\t\n")), QByteArray("L"));
    }

    void expandedCharactersGetTheMarker()
    {
        RichText t;
        t.append("AB", fmt(true));
        QCOMPARE(loadCommandField(t), QByteArray("L\xFE"
                                                 "A\xFE"
                                                 "B"));
    }

    void tagsInAnExpandedStretchGetNoMarker()
    {
        const RichText t = Message().text("X", kRed, true).tag("<Pausa______>", kRed, true);
        QCOMPARE(loadCommandField(t), QByteArray("L\xFE"
                                                 "X<Pausa______>"));
        QCOMPARE(encodeMessage(loadCommandField(t), 0), QByteArray("L\xFE"
                                                                   "X\xB0"));
    }

    void typedBracketsInAnExpandedStretchAreMarked()
    {
        // A bold "<" typed by hand before a plain letter, and the brackets at
        // the very ends of the text, which have no neighbour to look at.
        RichText t;
        t.append(">", fmt(true));
        t.append("<a", fmt(true));
        t.append("<", fmt(true));
        QCOMPARE(flattenMessage(t), QByteArray("\xFE>\xFE<\xFE"
                                               "a\xFE<"));
    }

    void charactersWithoutACodeAreOneQuestionMark()
    {
        RichText t;
        t.append(QStringLiteral("aЖ😀é"), fmt(false));
        t.append(QStringLiteral("😀"), fmt(true));
        QCOMPARE(flattenMessage(t), QByteArray("a??\xE9\xFE?"));
    }

    void longMessagesAreNotLimitedTo16Bits()
    {
        const RichText t = RichText::fromPlain(QString(40000, QLatin1Char('x')));
        QCOMPARE(flattenMessage(t).size(), 40000);
    }
};

QTEST_GUILESS_MAIN(TestFlatten)
#include "tst_flatten.moc"
