#include "portnames.h"

#include <QtTest>

class TestPortNames : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void usbAdaptersComeFirstAndNumbersSortAsNumbers()
    {
        const QStringList in{"ttyS10", "ttyS2", "ttyACM0", "ttyS0", "ttyUSB1", "ttyUSB0"};
        QCOMPARE(portnames::ordered(in),
                 QStringList({"ttyACM0", "ttyUSB0", "ttyUSB1", "ttyS0", "ttyS2", "ttyS10"}));
    }

    void overridesNameDevicesForOneRun()
    {
        const QString env = "COM1=/dev/pts/7; com2 = /dev/ttyS1,COM12=/dev/x";
        QCOMPARE(portnames::fromOverrides(env, 1), QString("/dev/pts/7"));
        QCOMPARE(portnames::fromOverrides(env, 2), QString("/dev/ttyS1"));
        QCOMPARE(portnames::fromOverrides(env, 12), QString("/dev/x"));
        QCOMPARE(portnames::fromOverrides(env, 3), QString());
        QCOMPARE(portnames::fromOverrides(QString(), 1), QString());
    }

    void resolveUsesTheEnvironmentFirst()
    {
#ifndef Q_OS_WIN
        qputenv("LETREIRO_PORTAS", "COM4=/dev/pts/99");
        QCOMPARE(portnames::resolve(4), QString("/dev/pts/99"));
        qunsetenv("LETREIRO_PORTAS");
#else
        QCOMPARE(portnames::resolve(4), QString("COM4"));
#endif
    }
};

QTEST_GUILESS_MAIN(TestPortNames)
#include "tst_portnames.moc"
