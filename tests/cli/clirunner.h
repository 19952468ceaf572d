#pragma once

// Runs letreiro-cli as a test would from a shell, and its panel emulator on
// a pseudo-terminal.
#include <QProcess>
#include <QtTest>

struct Run {
    int status = -1;
    QString out;
    QString err;
};

// `input`, when given, is what the program reads on stdin.
inline Run cli(const QStringList &args, const QByteArray &input = {})
{
    QProcess p;
    p.start(QStringLiteral(LETREIRO_CLI), args);
    if (!input.isEmpty()) p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

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
