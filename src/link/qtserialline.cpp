#include "qtserialline.h"

#include "seriallock.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace
{

// A device that we may read and write but cannot open is held by another
// program: Qt reports both as a permission error.
bool mayUse(const QString &device)
{
#ifdef Q_OS_WIN
    Q_UNUSED(device);
    return true; // a COM port is refused only while another program has it
#else
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
#endif
}

QString portErrorText(QSerialPort::SerialPortError e, const QString &device)
{
    switch (e) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("%1: dispositivo não encontrado").arg(device);
    case QSerialPort::PermissionError:
        if (mayUse(device)) return QtSerialLine::inUseText(device);
        return QStringLiteral("%1: permissão negada").arg(device);
    case QSerialPort::OpenError:
        return QStringLiteral("%1: a porta já está aberta").arg(device);
    case QSerialPort::ResourceError:
        return QStringLiteral("%1: a porta deixou de responder").arg(device);
    case QSerialPort::UnsupportedOperationError:
        return QStringLiteral("%1: não é uma porta serial").arg(device);
    default:
        // Qt's own reasons are English; the operator reads Portuguese.
        return QStringLiteral("%1: erro na porta serial").arg(device);
    }
}

QString hangUpText(const QString &device)
{
    return QStringLiteral("%1: a ligação foi interrompida").arg(device);
}

} // namespace

QString QtSerialLine::inUseText(const QString &device)
{
    const QString why = seriallock::explain(device, seriallock::systemFolders(), nullptr);
    if (!why.isEmpty()) return why;
    return QStringLiteral("%1: a porta está em uso por outro programa").arg(device);
}

// The port is a child, so that it moves with the line to the link's thread.
QtSerialLine::QtSerialLine(QObject *parent) : DeviceLine(parent), m_port(this)
{
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialLine::onError);
}

QtSerialLine::~QtSerialLine() = default;

bool QtSerialLine::open(const QString &device, QString *error)
{
    close();
    m_error.clear();
    m_device = device;
#ifndef Q_OS_WIN
    // A file or a folder is no serial port; Qt would say so in English
    // ("Inappropriate ioctl for device").
    const QFileInfo info(device);
    if (info.exists() && (info.isFile() || info.isDir())) {
        m_error = QStringLiteral("%1: não é uma porta serial").arg(device);
        if (error) *error = m_error;
        return false;
    }
#endif
    m_port.setPortName(device);
    bool ok = openPort();
    if (!ok && leftoverLockRemoved()) ok = openPort();
    if (!ok) {
        m_error = portErrorText(m_port.error(), device);
        if (error) *error = m_error;
        m_port.close();
    }
    m_opened = ok;
    return ok;
}

bool QtSerialLine::openPort()
{
    return m_port.open(QIODevice::ReadWrite) && m_port.setBaudRate(2400) &&
           m_port.setDataBits(QSerialPort::Data8) && m_port.setParity(QSerialPort::NoParity) &&
           m_port.setStopBits(QSerialPort::TwoStop) &&
           m_port.setFlowControl(QSerialPort::NoFlowControl);
}

// Qt refuses a port whose lock file it cannot take over, even when the
// process that wrote it has ended; such a leftover, once removed, is no
// reason to fail.
bool QtSerialLine::leftoverLockRemoved()
{
    if (m_port.error() != QSerialPort::PermissionError || !mayUse(m_device)) return false;
    bool removed = false;
    seriallock::explain(m_device, seriallock::systemFolders(), &removed);
    return removed;
}

void QtSerialLine::close()
{
    m_opened = false;
    if (m_port.isOpen()) m_port.close();
}

void QtSerialLine::onError(QSerialPort::SerialPortError e)
{
    if (e == QSerialPort::NoError || e == QSerialPort::TimeoutError) return;
    m_error = portErrorText(e, m_device);
    // A far end that hung up says so, whichever error Qt gave it first (a
    // pty's master closing reads as a resource error).
    const bool gone = hungUp();
    if (gone || e == QSerialPort::ResourceError) lose();
}

bool QtSerialLine::waitForActivity(int ms)
{
    if (!m_port.isOpen()) return false;
    if (m_port.bytesAvailable() > 0) return true;
    const bool ready = m_port.waitForReadyRead(ms);
    if (!ready && m_port.isOpen() && hungUp()) lose();
    return ready;
}

// A line whose far end hung up (an adapter pulled out, a device server
// dropping the connection) reads end-of-file for ever and keeps the event
// loop spinning; it is a lost port at once.
bool QtSerialLine::hungUp()
{
    if (!farEndGone()) return false;
    m_error = hangUpText(m_device);
    return true;
}

bool QtSerialLine::farEndGone() const
{
#ifdef Q_OS_WIN
    return false; // a vanished port gives a resource error there
#else
    if (!m_port.isOpen()) return false;
    pollfd p{int(m_port.handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
#endif
}

void QtSerialLine::lose()
{
    // Closing stops the signalling; the next exchange sees a closed port.
    if (!m_port.isOpen()) return;
    m_port.close();
    Q_EMIT lost(m_error);
}

bool QtSerialLine::isOpen() const
{
    return m_port.isOpen();
}

void QtSerialLine::discardOutput()
{
    if (m_port.isOpen()) m_port.clear(QSerialPort::Output);
}

void QtSerialLine::discardInput()
{
    if (m_port.isOpen()) {
        m_port.readAll();
        m_port.clear(QSerialPort::Input);
    }
}

bool QtSerialLine::writeByte(quint8 b)
{
    if (!m_port.isOpen()) return false;
    const char c = char(b);
    if (m_port.write(&c, 1) != 1) return false;
    m_port.flush(); // hand it to the driver now, not at the next event
    return m_port.isOpen();
}

qint64 QtSerialLine::driverOutputQueue()
{
#ifdef Q_OS_WIN
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(reinterpret_cast<HANDLE>(m_port.handle()), &errors, &stat)) return -1;
    return qint64(stat.cbOutQue);
#else
    int queued = 0;
    if (::ioctl(m_port.handle(), TIOCOUTQ, &queued) != 0) return -1;
    return queued;
#endif
}

qint64 QtSerialLine::outputPending()
{
    if (!m_port.isOpen()) return -1;
    if (m_port.bytesToWrite() > 0) {
        m_port.flush();
        return m_port.bytesToWrite();
    }
    return driverOutputQueue();
}

qint64 QtSerialLine::inputAvailable()
{
    if (!m_port.isOpen()) return -1;
    const qint64 n = m_port.bytesAvailable();
    if (n == 0 && hungUp()) {
        lose();
        return -1;
    }
    return n;
}

int QtSerialLine::readByte()
{
    char c = 0;
    if (!m_port.isOpen() || m_port.read(&c, 1) != 1) return -1;
    return quint8(c);
}

QString QtSerialLine::errorString() const
{
    if (!m_error.isEmpty()) return m_error;
    // Qt closes a port itself on some errors of a line whose far end hung
    // up, before it says why: the port is gone, not closed by anyone here.
    // A write or read may also fail on a hung-up line before any error
    // signal came: the far end's state says which it was.
    if (m_opened && (!m_port.isOpen() || farEndGone())) return hangUpText(m_device);
    return QStringLiteral("porta de comunicação fechada");
}
