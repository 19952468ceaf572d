#include "frame.h"
#include "replyreceiver.h"

#include "testbytes.h"

#include <QtTest>

namespace
{

// Feeds bytes until the payload is complete; returns how many were taken.
int feedAll(ReplyReceiver &r, const QByteArray &in)
{
    for (int i = 0; i < in.size(); ++i)
        if (r.feed(quint8(in[i]))) return i + 1;
    return -1;
}
} // namespace

class TestFrame : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void buildsRequestFrames()
    {
        QCOMPARE(frame::build(1, "A"), bytes({0x81, 0x7E, 5, 0, 1, 0, 0xFF, 0xFF, 0x41, 0x40}));
        QCOMPARE(frame::build(0, "A"), bytes({0x81, 0x7E, 5, 0, 0, 0, 0xFF, 0xFF, 0x41, 0x41}));
        // A negative address is a signed 16-bit number, low byte first.
        QCOMPARE(frame::build(-2, "").left(6), bytes({0x81, 0x7E, 4, 0, 0xFE, 0xFF}));
        // The relay passes on any 16-bit address: both its bytes are checked.
        QCOMPARE(frame::checkByte(0x0102, "A"), quint8(0x01 ^ 0x02 ^ 0x41));
    }

    void cutsLongDataAt7500_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("kept");
        QTest::newRow("one short") << 7499 << 7499;
        QTest::newRow("the most") << 7500 << 7500;
        QTest::newRow("one more") << 7501 << 7500;
        QTest::newRow("far more") << 8000 << 7500;
    }

    void cutsLongDataAt7500()
    {
        QFETCH(int, size);
        QFETCH(int, kept);
        const QByteArray data(size, 'x');
        const QByteArray f = frame::build(3, data);
        QCOMPARE(f.size(), kept + 9);
        QCOMPARE(quint8(f[2]) | quint8(f[3]) << 8, kept + 4);
        QCOMPARE(quint8(f.back()), frame::checkByte(3, data.left(kept)));
    }

    void encodesOnlyFieldsLongerThanOneCharacter()
    {
        QCOMPARE(frame::encodeDataField("", 0), QByteArray());
        QCOMPARE(frame::encodeDataField("<", 0), QByteArray("<"));
        QCOMPARE(frame::encodeDataField("\xE7", 0), QByteArray("\xE7")); // not mapped alone
        QCOMPARE(frame::encodeDataField("L\xE7", 0), QByteArray("L\x0C"));
        // Clock and date bytes pass unchanged, those without a character too.
        const QByteArray date = bytes({'D', 0x31, 0x08, 0x81, 0x02});
        QCOMPARE(frame::encodeDataField(date, 0), date);
    }

    void textForms()
    {
        QCOMPARE(frame::hexDump(bytes({0x81, 0x7E, 5, 0})), QStringLiteral("81H 7EH 5H 0H "));
        QCOMPARE(frame::sizeText(23), QStringLiteral("  =>  23 Caracteres."));
        QCOMPARE(frame::hexLine(bytes({0x81, 0x0A, 0xfe})), QStringLiteral("81 0A FE"));
    }

    void receiverTakesAReplyBuiltLikeARequest()
    {
        const QByteArray reply = bytes({0x81, 0x7E, 5, 0, 1, 0, 0xFF, 0xFF, 0x06, 0x33});
        for (const QByteArray &in :
             {reply, reply.mid(1), QByteArray("\x00\x81zz", 4) + reply.mid(1),
              QByteArray("junk") + reply + QByteArray("after")}) {
            ReplyReceiver r;
            QVERIFY(feedAll(r, in) > 0);
            QCOMPARE(r.payload(), bytes({0x06, 0x33}));
        }
        // What the trace shows starts at the last byte read while hunting.
        ReplyReceiver r;
        feedAll(r, QByteArray("ab") + reply);
        QCOMPARE(r.collected(), reply);
    }

    void receiverNeverCompletesOddLengths()
    {
        for (int length : {0, 3, 32768, 65535}) {
            ReplyReceiver r;
            QByteArray in = bytes({0x7E, length & 0xFF, length >> 8, 1, 0, 0xFF, 0xFF});
            in += QByteArray(70000, 0x06);
            QCOMPARE(feedAll(r, in), -1);
            QVERIFY(r.payload().isEmpty());
            QCOMPARE(r.collected().size(), 65536); // the trace's bound, reached
        }
        ReplyReceiver r;
        QByteArray in = bytes({0x7E, 0xFF, 0x7F, 1, 0, 0xFF, 0xFF}) + QByteArray(32764, 'p');
        QCOMPARE(feedAll(r, in), in.size()); // 32767 is the longest that counts
    }
};

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
