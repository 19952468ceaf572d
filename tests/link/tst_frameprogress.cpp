// How far a frame has gone, as the link tells its listener: what a
// progress bar and a countdown are drawn from.
#include "fakeline.h"
#include "panellink.h"

#include <QtTest>

namespace
{

struct Progress {
    qsizetype written, total;
    qint64 msLeft, at;
};

class ProgressRecorder : public LinkListener
{
public:
    explicit ProgressRecorder(const VirtualTimebase &time) : m_time(time) {}
    void frameProgress(qsizetype written, qsizetype total, qint64 msLeft) override
    {
        progress.append({written, total, msLeft, m_time.now});
    }
    QVector<Progress> progress;

private:
    const VirtualTimebase &m_time;
};

} // namespace

class TestFrameProgress : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A maximal frame takes half a minute: the listener hears how far it
    // has gone often enough for a progress bar, not once a byte.
    void aFrameReportsHowFarItHasGone()
    {
        VirtualTimebase time;
        FakeLine line(time);
        line.drainMs = 5;
        ProgressRecorder rec(time);
        PanelLink link(line, time, {}, &rec);
        QVERIFY(link.exchangeFrame(0, "L" + QByteArray(7499, 'x')).succeeded());
        const qsizetype total = line.written.size();
        QCOMPARE(rec.progress.first().written, 0);
        QCOMPARE(rec.progress.first().total, total);
        QCOMPARE(rec.progress.first().msLeft, total * 4583 / 1000); // 11 bits at 2400 baud
        QCOMPARE(rec.progress.last().written, total);
        QCOMPARE(rec.progress.last().msLeft, 0);
        for (int i = 1; i < rec.progress.size(); ++i) {
            QVERIFY(rec.progress[i].written > rec.progress[i - 1].written);
            QVERIFY(rec.progress[i].msLeft < rec.progress[i - 1].msLeft);
            QVERIFY(rec.progress[i].at - rec.progress[i - 1].at <= PanelLink::kProgressMs + 10);
        }
        QVERIFY(rec.progress.size() <= time.now / PanelLink::kProgressMs + 2);
        // A device server takes a chunk at once and puts it on its wire at
        // 2400 baud: what it still holds has not gone.
        rec.progress.clear();
        line.networkUsPerByte = SerialLine::kWireByteUs;
        QVERIFY(link.exchangeFrame(0, "L" + QByteArray(1999, 'x')).succeeded());
        for (int i = 1; i < rec.progress.size(); ++i) {
            QVERIFY(rec.progress[i].written >= rec.progress[i - 1].written);
            QVERIFY(rec.progress[i].at - rec.progress[i - 1].at <= PanelLink::kProgressMs + 25);
        }
        QVERIFY(rec.progress[1].written < 256);
        line.networkUsPerByte = 0;
        // A USB adapter's pause before each byte counts in the time left;
        // a frame that could not be written whole is never reported whole.
        rec.progress.clear();
        link.setOptions(LinkOptions{0, true});
        line.failAfterBytes = line.written.size() + 5;
        QVERIFY(!link.exchangeFrame(0, "LX").succeeded());
        const qsizetype small = rec.progress.first().total;
        QCOMPARE(rec.progress.first().msLeft, small * (SerialLine::kWireByteUs + 100000) / 1000);
        QVERIFY(rec.progress.last().written < small);
    }
};

QTEST_GUILESS_MAIN(TestFrameProgress)
#include "tst_frameprogress.moc"
