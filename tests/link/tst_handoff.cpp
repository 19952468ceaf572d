// ThreadSanitizer, with the suppressions the tests run under, still reports
// a race of ours that passes through Qt's event dispatch, and reports
// nothing for a call handed over through threadhandoff.h.
#include <QProcess>
#include <QtTest>

class TestHandoff : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aRaceIsReportedAndAHandOffIsNot_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("handed over") << "limpo" << 0;
        QTest::newRow("racing") << "corrida" << 66; // the sanitizer's own exit status
        QTest::newRow("racing from a slot") << "corrida-slot" << 66;
    }

    void aRaceIsReportedAndAHandOffIsNot()
    {
        QFETCH(QString, mode);
        QFETCH(int, exitCode);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TSAN_OPTIONS",
                   "halt_on_error=1 suppressions=" LETREIRO_SOURCE_DIR "/tests/tsan.supp");
        // Qt's own event dispatcher, as the tests run: GLib's is not
        // instrumented, and its frames would stand in every slot's stack.
        env.insert("QT_NO_GLIB", "1");
        child.setProcessEnvironment(env);
        child.start(HANDOFF_CANARY, {mode});
        QVERIFY(child.waitForFinished(60000));
        const QString report = QString::fromLocal8Bit(child.readAllStandardError());
        QVERIFY2(child.exitStatus() == QProcess::NormalExit, qPrintable(report));
        QVERIFY2(child.exitCode() == exitCode, qPrintable(report));
        if (exitCode == 0) {
            QVERIFY2(!report.contains("ThreadSanitizer"), qPrintable(report));
        } else {
            QVERIFY2(report.contains("WARNING: ThreadSanitizer: data race") &&
                         report.contains("touchShared"),
                     qPrintable(report));
        }
    }
};

QTEST_GUILESS_MAIN(TestHandoff)
#include "tst_handoff.moc"
