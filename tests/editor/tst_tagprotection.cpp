#include "formatrules.h"
#include "tagprotection.h"
#include "tags.h"

#include <QRandomGenerator>
#include <QtTest>

namespace
{

// Text with an underline mask ("0110": the middle two underlined); tags()
// underlines the names of every thirteen-character "<...>" run, as the
// editor's insertion does.
class Text : public TagText
{
public:
    Text(const QString &s, QVector<bool> mask) : m_s(s), m_mask(std::move(mask)) {}
    Text(const QString &s, const char *mask) : m_s(s)
    {
        for (; *mask; ++mask)
            m_mask.append(*mask == '1');
    }
    static Text tags(const QString &s)
    {
        QVector<bool> mask(s.size());
        for (qsizetype i = 0; i + 12 < s.size(); ++i)
            if (s[i] == '<' && s[i + 12] == '>') {
                std::fill_n(mask.begin() + i + 1, 11, true);
                i += 12;
            }
        return Text(s, mask);
    }
    qsizetype length() const override { return m_s.size(); }
    QChar charAt(qsizetype p) const override { return p >= 0 && p < m_s.size() ? m_s[p] : QChar(); }
    bool isUnderlined(qsizetype p) const override { return m_mask.value(p); }

private:
    QString m_s;
    QVector<bool> m_mask;
};

using namespace tagprotection;

} // namespace

class TestTagProtection : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keysTakeWholeTags()
    {
        const Text t = Text::tags("ab<Pausa______>cd"); // tag at 2..14
        QCOMPARE(backspace(t, 15), std::optional<TextRange>({2, 13}));
        QCOMPARE(backspace(t, 16), std::nullopt);
        QCOMPARE(backspace(t, 0), std::nullopt);
        QCOMPARE(deleteForward(t, 2), std::optional<TextRange>({2, 13}));
        QCOMPARE(deleteForward(t, 1), std::nullopt);
        QCOMPARE(left(t, 15), std::optional<qsizetype>(2));
        QCOMPARE(left(t, 2), std::nullopt);
        QCOMPARE(right(t, 2), std::optional<qsizetype>(15));
        QCOMPARE(right(t, 15), std::nullopt);
        // A tag that is the whole text: both of its ends are the text's.
        const Text alone = Text::tags("<Pausa______>");
        QCOMPARE(deleteForward(alone, 0), std::optional<TextRange>({0, 13}));
        QCOMPARE(backspace(alone, 13), std::optional<TextRange>({0, 13}));
        QCOMPARE(right(alone, 0), std::optional<qsizetype>(13));
        QCOMPARE(left(alone, 13), std::optional<qsizetype>(0));
    }

    void theCaretNeverRestsInATag()
    {
        const Text t = Text::tags("ab<Pausa______>cd");
        for (int p = 3; p <= 14; ++p)
            QCOMPARE(caret(t, p), 15); // inside the name, or right before ">"
        QCOMPARE(caret(t, 2), 2);
        QCOMPARE(caret(t, 15), 15);
        QCOMPARE(caret(t, 17), 17);
        // A ">" typed in the text is no tag's end.
        QCOMPARE(caret(Text::tags("a>b"), 1), 1);
    }

    void selectionsHoldWholeTags()
    {
        const Text t = Text::tags("a<Pausa______>b<Pisca______>c"); // tags 1..13, 15..27
        // From the middle of one name to the middle of the other: from right
        // after the first tag to right before the second.
        QCOMPARE(selection(t, {5, 15}), TextRange({14, 1}));
        // Inside one name: nothing, right after that tag.
        QCOMPARE(selection(t, {3, 4}), TextRange({14, 0}));
        // Starting on a tag's ">" loses the ">".
        QCOMPARE(selection(t, {13, 2}), TextRange({14, 1}));
        // Ending after the last name character: before the tag's "<".
        QCOMPARE(selection(t, {0, 13}), TextRange({0, 1}));
        // Whole tags are kept.
        QCOMPARE(selection(t, {0, 29}), TextRange({0, 29}));
    }

    void damagedTagsNeverReachOutsideTheText()
    {
        // Underline at the very end, and a ">" with too few characters before.
        const Text end("abc", "001");
        QCOMPARE(caret(end, 2), 3);
        QCOMPARE(selection(end, {1, 1}), TextRange({1, 0}));
        const Text short_("x_>y", "0100");
        QCOMPARE(backspace(short_, 3), std::nullopt);
        QCOMPARE(left(short_, 3), std::nullopt);
        QCOMPARE(caret(short_, 1), 3);
        const Text open("<_____", "011111");
        QCOMPARE(deleteForward(open, 0), std::nullopt);
        QCOMPARE(right(open, 0), std::nullopt);

        // Any text, any underline, any position: results stay in the text.
        QRandomGenerator rng(3);
        for (int round = 0; round < 2000; ++round) {
            const int n = rng.bounded(20);
            QString s;
            QVector<bool> mask;
            for (int i = 0; i < n; ++i) {
                s += QChar(u"<>a_"[rng.bounded(4)]);
                mask.append(rng.bounded(2));
            }
            const Text t(s, mask);
            for (int p = -2; p <= n + 2; ++p) {
                const qsizetype c = caret(t, p);
                QVERIFY(c >= 0 && c <= n);
                for (const auto &r : {backspace(t, p), deleteForward(t, p)})
                    QVERIFY(!r || (r->start >= 0 && r->start + r->length <= n));
                for (const auto &q : {left(t, p), right(t, p)})
                    QVERIFY(!q || (*q >= 0 && *q <= n));
                const TextRange sel = selection(t, {p, rng.bounded(n + 3)});
                QVERIFY(sel.start >= 0 && sel.length >= 0 && sel.start + sel.length <= n);
            }
        }
    }

    void everyPathSettlesTheSameWay()
    {
        const Text t = Text::tags("ab<Pausa______>cd"); // tag at 2..14
        for (int p = 3; p <= 14; ++p) {
            QCOMPARE(tagAround(t, p), std::optional<TextRange>({2, 13}));
            QCOMPARE(settle(t, p, true), 15); // moving right: after the ">"
            QCOMPARE(settle(t, p, false), 2); // moving left: before the "<"
            QCOMPARE(insertionPoint(t, p), 15);
        }
        for (int p : {0, 1, 2, 15, 16, 17})
            QCOMPARE(tagAround(t, p), std::nullopt);
        // A deletion or replacement that touches a tag covers all of it.
        QCOMPARE(wholeTags(t, {1, 4}), TextRange({1, 14}));
        QCOMPARE(wholeTags(t, {10, 6}), TextRange({2, 14}));
        QCOMPARE(wholeTags(t, {0, 2}), TextRange({0, 2}));
    }

    // One character off the pattern and the thirteen are no tag: nothing
    // settles around them and all of their underline is stray.
    void damagedTagsAreNoTags_data()
    {
        QTest::addColumn<QString>("underline");
        QTest::newRow("last name character plain") << "0111111111100";
        QTest::newRow("first name character plain") << "0011111111110";
        QTest::newRow("underlined <") << "1111111111110";
        QTest::newRow("underlined >") << "0111111111111";
    }

    void damagedTagsAreNoTags()
    {
        QFETCH(QString, underline);
        const Text t("<Pausa______>", qPrintable(underline));
        for (int p = 0; p <= 13; ++p) {
            QCOMPARE(tagAround(t, p), std::nullopt);
            QCOMPARE(settle(t, p, true), p);
        }
        QCOMPARE(strayUnderline(t, 0, 13), t.underlinedRuns(0, 13));
    }

    void strayUnderlineIsFound()
    {
        // A whole tag is left alone; a name cut short, one grown by a typed
        // letter, and a lone underlined letter are not tags.
        const Text whole = Text::tags("x<Pausa______>y");
        QVERIFY(strayUnderline(whole, 0, whole.length()).isEmpty());
        const Text typedInside("x<PausaQ______>", "001111111111110");
        QCOMPARE(strayUnderline(typedInside, 7, 8), QVector<TextRange>({{2, 12}}));
        const Text lone("aZb", "010");
        QCOMPARE(strayUnderline(lone, 0, 3), QVector<TextRange>({{1, 1}}));
        // Only runs that meet the range are looked at, but each whole.
        const Text two("Q<Pau>W_Z", "001110001");
        QCOMPARE(strayUnderline(two, 3, 4), QVector<TextRange>({{2, 3}}));
    }

    void markupFromOtherProgramsIsNormalised()
    {
        CharFormat plain, ul;
        ul.underline = true;
        ul.colour = rgbColour(1, 2, 3);
        RichText t;
        t.append(QStringLiteral("<"), plain);
        t.append(QStringLiteral("Pausa______"), ul); // a known tag: kept, and grey
        t.append(QStringLiteral("><"), plain);
        t.append(QStringLiteral("Pau"), ul); // too short
        t.append(QStringLiteral("><"), plain);
        t.append(QStringLiteral("Inventado__"), ul); // whole, but no tag of ours
        t.append(QStringLiteral(">"), plain);
        normaliseForeign(t);
        for (int i = 1; i <= 11; ++i) {
            QVERIFY(t.isUnderlined(i));
            QCOMPARE(t.at(i).format.colour, colours::kTagName);
        }
        for (int i = 13; i < t.size(); ++i)
            QVERIFY(!t.isUnderlined(i));
    }

    void coloursSkipTagNames()
    {
        const Text t = Text::tags("AB<Pausa______>C");
        QCOMPARE(formatrules::singleColour(t, 0, 16, colours::kGreen),
                 QVector<ColourRun>({{0, 3, colours::kGreen}, {14, 2, colours::kGreen}}));
        // Rainbow: A green, B red, "<" orange, ">" green, C red.
        QCOMPARE(formatrules::rainbow(t, 0, 16), QVector<ColourRun>({{0, 1, colours::kGreen},
                                                                     {1, 1, colours::kRed},
                                                                     {2, 1, colours::kOrange},
                                                                     {14, 1, colours::kGreen},
                                                                     {15, 1, colours::kRed}}));
    }
};

QTEST_GUILESS_MAIN(TestTagProtection)
#include "tst_tagprotection.moc"
