#pragma once

// Runs letreiro-cli as a test would from a shell, and its panel emulator on
// a pseudo-terminal.
#include <QDeadlineTimer>
#include <QProcess>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

struct Run {
    int status = -1;
    QString out;
    QString err;
};

// `input`, when given, is what the program reads on stdin. The status is -1
// for a program that crashed or did not end.
inline Run cli(const QStringList &args, const QByteArray &input = {})
{
    QProcess p;
    p.start(QStringLiteral(LETREIRO_CLI), args);
    if (!input.isEmpty()) p.write(input);
    p.closeWriteChannel();
    const bool ended = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit;
    return {ended ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

#ifdef Q_OS_UNIX
// As a person at a terminal runs it: stderr on a pseudo-terminal, whose
// output is `err`, read while the program runs so that it never blocks.
inline Run cliOnATerminal(const QStringList &args)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return {};
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    QProcess p;
    p.setChildProcessModifier([terminal = QByteArray(::ptsname(master))] {
        const int fd = ::open(terminal.constData(), O_RDWR | O_NOCTTY);
        if (fd >= 0) ::dup2(fd, STDERR_FILENO);
    });
    p.start(QStringLiteral(LETREIRO_CLI), args);
    QByteArray seen;
    char buf[512];
    for (const QDeadlineTimer deadline(30000); p.state() != QProcess::NotRunning;) {
        if (!p.waitForFinished(50) && deadline.hasExpired()) break;
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            seen.append(buf, int(n));
    }
    ::close(master);
    const bool ended = p.state() == QProcess::NotRunning && p.exitStatus() == QProcess::NormalExit;
    return {ended ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(seen)};
}
#endif

// `letreiro-cli painel` in the background, on a pseudo-terminal.
class Emulator
{
public:
    explicit Emulator(const QStringList &args = {})
    {
        m_proc.start(QStringLiteral(LETREIRO_CLI), QStringList{"painel"} + args);
        QVERIFY(m_proc.waitForStarted());
        QTRY_VERIFY(m_proc.canReadLine());
        device = QString::fromUtf8(m_proc.readLine()).trimmed();
    }
    ~Emulator()
    {
        m_proc.terminate();
        m_proc.waitForFinished(5000);
    }
    // The next line the emulator prints about a frame; a loaded machine may
    // print it in pieces, so wait for the whole line.
    QString nextFrame()
    {
        const QDeadlineTimer deadline(30000);
        while (!m_proc.canReadLine() && m_proc.waitForReadyRead(int(deadline.remainingTime()))) {
        }
        return QString::fromUtf8(m_proc.readLine()).trimmed();
    }
    QProcess &process() { return m_proc; }

    QString device;

private:
    QProcess m_proc;
};
