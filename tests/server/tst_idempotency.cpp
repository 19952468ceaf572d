// One click, one send: the cache of Idempotency-Key answers on virtual time.
#include "idempotency.h"

#include <QtTest>

#include <atomic>
#include <future>
#include <thread>

class TestIdempotency : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aRepeatGetsTheFirstAnswerAndDoesNothing()
    {
        qint64 now = 0;
        IdempotencyCache cache([&] { return now; }, 3);
        int sends = 0;
        const auto send = [&] {
            return IdempotencyCache::Answer{200, QByteArray::number(++sends)};
        };
        QCOMPARE(cache.run("ana /texto k1", send).body, "1");
        now += IdempotencyCache::kLifetimeMs - 1;
        QCOMPARE(cache.run("ana /texto k1", send).body, "1");
        QCOMPARE(cache.run("ana /texto k2", send).body, "2");
        QCOMPARE(cache.run("", send).body, "3"); // no key: every request counts
        QCOMPARE(cache.run("", send).body, "4");
        // Ten minutes on, the key is a new one.
        now += 1;
        QCOMPARE(cache.run("ana /texto k1", send).body, "5");
        // However many keys come, only the newest few are kept.
        for (int i = 0; i < 100; ++i)
            cache.run(QStringLiteral("k%1").arg(i), send);
        QCOMPARE(cache.size(), 3);
        QCOMPARE(cache.run("k99", send).body, "105");
        QCOMPARE(cache.run("k0", send).body, "106");
    }

    void aRepeatWhileTheFirstWorksWaitsForIt()
    {
        IdempotencyCache cache([] { return qint64(0); });
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<int> sends{0};
        std::promise<void> started;
        const auto slowSend = [&] {
            ++sends;
            started.set_value();
            released.wait();
            return IdempotencyCache::Answer{200, "primeiro"};
        };
        auto first = std::async(std::launch::async, [&] { return cache.run("k", slowSend); });
        started.get_future().wait();
        auto second = std::async(std::launch::async, [&] { return cache.run("k", slowSend); });
        release.set_value();
        QCOMPARE(first.get().body, "primeiro");
        QCOMPARE(second.get().body, "primeiro");
        QCOMPARE(sends.load(), 1);
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
