#include "panelport.h"
#include "qtserialline.h"
#include "tcpline.h"
#include "seriallock.h"
#include "testfiles.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace
{

// The id of a process that has come and gone.
qint64 endedPid()
{
    QProcess p;
    p.start(u"true"_s, {});
    if (!p.waitForStarted()) return 0;
    const qint64 pid = p.processId();
    p.waitForFinished();
    return pid;
}

// A pseudo-terminal's master, ready for its other end to be opened; -1 if not.
int openPty()
{
    const int pty = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (pty >= 0 && (::grantpt(pty) != 0 || ::unlockpt(pty) != 0)) {
        ::close(pty);
        return -1;
    }
    return pty;
}

// Runs f as a user who may not remove others' files: root's file checks
// dropped on one thread only (the file-system user id is per thread).
template <typename F> void asAnotherUser(F f)
{
    std::thread t([&] {
        if (::geteuid() == 0) ::syscall(SYS_setfsuid, 65534);
        f();
    });
    t.join();
}

} // namespace

class TestSerialLock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0700);
        for (const QString &f : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(m_dir.filePath(f));
    }

    // Qt names a lock after the path below /dev, UUCP programs after the
    // device; both are found, in either format, and nothing else is.
    void findsTheLockOfTheDeviceInEitherName()
    {
        writeFile(m_dir.filePath("LCK..pts_7"), "123\nletreiro\nbalcao\n");
        writeFile(m_dir.filePath("LCK..ttyUSB0"), "      4567\n");
        QCOMPARE(seriallock::find("/dev/pts/7", m_folders), m_dir.filePath("LCK..pts_7"));
        QCOMPARE(seriallock::holder(m_dir.filePath("LCK..pts_7")), 123);
        QCOMPARE(seriallock::find("/dev/ttyUSB0", m_folders), m_dir.filePath("LCK..ttyUSB0"));
        QCOMPARE(seriallock::holder(m_dir.filePath("LCK..ttyUSB0")), 4567);
        QCOMPARE(seriallock::find("/dev/ttyUSB1", m_folders), QString());
        writeFile(m_dir.filePath("LCK..ttyS0"), "lixo\n");
        QCOMPARE(seriallock::holder(m_dir.filePath("LCK..ttyS0")), 0);
        bool removed = true;
        QCOMPARE(seriallock::explain("/dev/ttyS0", m_folders, &removed), QString());
        QVERIFY(!removed);
        QVERIFY(QFile::exists(m_dir.filePath("LCK..ttyS0")));
    }

    // A live holder is named and its lock left alone.
    void aLiveHolderIsNamed()
    {
        const qint64 me = QCoreApplication::applicationPid();
        writeFile(m_dir.filePath("LCK..ttyUSB0"), QByteArray::number(me) + "\nletreiro\n");
        bool removed = true;
        QCOMPARE(seriallock::explain("/dev/ttyUSB0", m_folders, &removed),
            QString("/dev/ttyUSB0: a porta está em uso por outro programa (processo %1)").arg(me));
        QVERIFY(!removed);
        QVERIFY(QFile::exists(m_dir.filePath("LCK..ttyUSB0")));
    }

    // The lock of a process that ended is no one's: removed when we may,
    // otherwise told as what it is, with the file to remove.
    void aLeftoverLockIsRemovedOrNamed()
    {
        const qint64 gone = endedPid();
        QVERIFY(gone > 0);
        QVERIFY(seriallock::processGone(gone));
        QVERIFY(!seriallock::processGone(QCoreApplication::applicationPid()));
        const QString lock = m_dir.filePath("LCK..ttyUSB0");
        const QString told = "/dev/ttyUSB0: trava antiga de um processo que já terminou: " + lock +
                             " (remova esse arquivo como administrador)";

        writeFile(lock, QString("%1\n").arg(gone, 10).toLatin1());
        QCOMPARE(seriallock::explain("/dev/ttyUSB0", m_folders, nullptr), told);
        QVERIFY(QFile::exists(lock));
        bool removed = false;
        QCOMPARE(seriallock::explain("/dev/ttyUSB0", m_folders, &removed), QString());
        QVERIFY(removed);
        QVERIFY(!QFile::exists(lock));

        // One we may not remove: root's in the sticky lock folder, or any
        // in a folder we may not write.
        writeFile(lock, QByteArray::number(gone) + "\nletreiro\n");
        ::chmod(QFile::encodeName(m_dir.path()).constData(), ::geteuid() == 0 ? 01777 : 0500);
        QString why;
        asAnotherUser([&] { why = seriallock::explain("/dev/ttyUSB0", m_folders, &removed); });
        QCOMPARE(why, told);
        QVERIFY(!removed);
        QVERIFY(QFile::exists(lock));
    }

    // The real line: Qt refuses a port whose lock names another host's
    // process; when that process is gone here the leftover goes and the
    // port opens.
    void aLeftoverLockDoesNotKeepThePortShut()
    {
        const int pty = openPty();
        QVERIFY(pty >= 0);
        const QString device = QString::fromLocal8Bit(::ptsname(pty));
        const QString lock = "/var/lock/LCK.." + device.mid(5).replace('/', '_');
        // Qt takes the first lock folder it may write: /var/lock where it can.
        if (!QFileInfo(QFileInfo(lock).path()).isWritable() || QFile::exists(lock))
            QSKIP("/var/lock is not ours to write for this pseudo-terminal");
        writeFile(lock, QByteArray::number(endedPid()) + "\nletreiro\noutra-maquina\n");
        QtSerialLine line;
        QString error;
        const bool opened = line.open(device, &error);
        line.close();
        ::close(pty);
        if (!opened) QFile::remove(lock);
        QVERIFY2(opened, qPrintable(error));
        QVERIFY(!QFile::exists(lock));
    }

    // A line opened again says why it fails now, not why it failed before.
    void aLineOpenedAgainForgetsItsLastError()
    {
        QtSerialLine line;
        QString error;
        QVERIFY(!line.open(m_dir.path(), &error));
        QVERIFY2(error.contains("não é uma porta serial"), qPrintable(error));
        const int pty = openPty();
        QVERIFY(pty >= 0);
        const QString device = QString::fromLocal8Bit(::ptsname(pty));
        QVERIFY2(line.open(device, &error), qPrintable(error));
        ::close(pty); // the far end hangs up
        QVERIFY2(line.errorString().startsWith(device) &&
                     !line.errorString().contains("não é uma porta serial"),
                 qPrintable(line.errorString()));
        // Nothing will come from it: closed, not merely quiet.
        QCOMPARE(line.inputAvailable(), -1);
    }

    // The port's worker opens a device on its own thread.
    void aPortOpensADevice()
    {
        const int pty = openPty();
        QVERIFY(pty >= 0);
        SerialPanelPort port;
        QSignalSpy opened(&port, &PanelPort::opened);
        port.openDevice(QString::fromLocal8Bit(::ptsname(pty)));
        QTRY_COMPARE(opened.size(), 1);
        QVERIFY2(opened.first().first().toBool(), qPrintable(opened.first().last().toString()));
        ::close(pty);
    }

    // A service's port opens a line that went away again before its next
    // request (here a device server that hung up).
    void aPortReopensALineThatWentAway()
    {
        QTcpServer far;
        QVERIFY(far.listen(QHostAddress::LocalHost));
        SerialPanelPort port;
        port.setReopenBeforeRequests(true);
        QSignalSpy opened(&port, &PanelPort::opened), lost(&port, &PanelPort::lost),
            finished(&port, &PanelPort::finished);
        port.openDevice(QString("tcp://127.0.0.1:%1").arg(far.serverPort()));
        QTRY_COMPARE(opened.size(), 1);
        QVERIFY(opened.first().first().toBool());
        QTRY_VERIFY(far.hasPendingConnections());
        far.nextPendingConnection()->abort();
        QTRY_COMPARE(lost.size(), 1);
        port.run({}, [](PanelCommands &) { return CommandOutcome{}; });
        QTRY_COMPARE(finished.size(), 1);
        QTRY_VERIFY(far.hasPendingConnections());
        // A device server by name: the name is looked up (then nobody listens).
        const quint16 free = far.serverPort();
        far.close();
        TcpLine line;
        QString error;
        QVERIFY(!line.open(QString("tcp://localhost:%1").arg(free), &error));
        QVERIFY2(error.startsWith(QString("localhost:%1: ").arg(free)) &&
                     !error.contains("servidor de nomes") && !error.contains("não encontrado"),
                 qPrintable(error));
    }

private:
    QTemporaryDir m_dir;
    const QStringList m_folders{m_dir.path() + "/nada", m_dir.path()};
};

QTEST_GUILESS_MAIN(TestSerialLock)
#include "tst_seriallock.moc"
