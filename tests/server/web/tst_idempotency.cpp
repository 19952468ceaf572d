// One click, one send: the cache of Idempotency-Key answers on virtual time.
#include "idempotency.h"

#include <QtTest>

class TestIdempotency : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aRepeatGetsTheFirstAnswerAndDoesNothing()
    {
        qint64 now = 0;
        IdempotencyCache cache([&] { return now; }, 3);
        int sends = 0;
        const auto send = [&](const QString &key) {
            QByteArray got;
            cache.runLater(
                key,
                [&](IdempotencyCache::Done done) {
                    done({200, QByteArray::number(++sends)});
                },
                [&](const IdempotencyCache::Answer &a) { got = a.body; });
            return got;
        };
        QCOMPARE(send("ana /texto k1"), "1");
        now += IdempotencyCache::kLifetimeMs - 1;
        QCOMPARE(send("ana /texto k1"), "1");
        QCOMPARE(send("ana /texto k2"), "2");
        QCOMPARE(send(""), "3"); // no key: every request counts
        QCOMPARE(send(""), "4");
        // Ten minutes on, the key is a new one.
        now += 1;
        QCOMPARE(send("ana /texto k1"), "5");
        // However many keys come, only the newest few are kept.
        for (int i = 0; i < 100; ++i)
            send(QStringLiteral("k%1").arg(i));
        QCOMPARE(cache.size(), 3);
        QCOMPARE(send("k99"), "105");
        QCOMPARE(send("k0"), "106");
    }

    // On the one thread that must not wait: a repeat while the first is at
    // work is answered when the first is, and after, at once.
    void aRepeatLaterIsAnsweredWhenTheFirstIs()
    {
        IdempotencyCache cache([] { return qint64(0); });
        IdempotencyCache::Done finishFirst;
        int sends = 0;
        QList<QByteArray> answers;
        const auto work = [&](IdempotencyCache::Done done) {
            ++sends;
            finishFirst = done;
        };
        const auto collect = [&](const IdempotencyCache::Answer &a) { answers.append(a.body); };
        cache.runLater("k", work, collect);
        cache.runLater("k", work, collect);
        QVERIFY(answers.isEmpty());
        finishFirst({200, "primeiro"});
        QCOMPARE(answers, QList<QByteArray>({"primeiro", "primeiro"}));
        cache.runLater("k", work, collect);
        QCOMPARE(answers.size(), 3);
        QCOMPARE(sends, 1);
    }
};

QTEST_GUILESS_MAIN(TestIdempotency)
#include "tst_idempotency.moc"
