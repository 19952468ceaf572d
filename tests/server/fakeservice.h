#pragma once

// The service in-process: a fake line behind each port, and a clock the
// test moves, so an agenda minute or a stuck worker costs nothing.
#include "agendarunner.h"
#include "frame.h"
#include "letreiroservice.h"
#include "link/fakeline.h"
#include "panellink.h"
#include "panelport.h"
#include "serviceclock.h"

#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <map>

class VirtualClock : public ServiceClock
{
public:
    QDateTime wall = QDateTime(QDate(2026, 3, 2), QTime(9, 0, 30));
    std::atomic<qint64> ms{1000};

    QDateTime now() const override { return wall; }
    qint64 monotonicMs() const override { return ms; }
    void after(qint64 delay, QObject *context, std::function<void()> f) override
    {
        m_timers.insert({ms + delay, {QPointer<QObject>(context), std::move(f)}});
    }
    // Moves both clocks on, firing each timer at its moment.
    void advance(qint64 by)
    {
        const qint64 end = ms + by;
        while (!m_timers.empty() && m_timers.begin()->first <= end) {
            auto timer = m_timers.extract(m_timers.begin());
            wall = wall.addMSecs(timer.key() - ms);
            ms = timer.key();
            if (timer.mapped().first) timer.mapped().second();
        }
        wall = wall.addMSecs(end - ms);
        ms = end;
    }

private:
    std::multimap<qint64, std::pair<QPointer<QObject>, std::function<void()>>> m_timers;
};

// A line of panels that answer each frame to their address as told (ACK by
// default), one exchange at a time, its result posted as a real port's is.
// Held, it keeps each job until the test releases it: a frame on the wire.
class FakePanelPort : public PanelPort
{
public:
    struct Frame {
        int address;
        QByteArray data; // as encoded on the wire
    };

    QHash<int, QByteArray> answers; // by address: the reply's payload
    bool held = false;
    bool finishing = false;
    QList<Frame> frames;

    void open(int) override {}
    void close() override {}
    void setTraceWanted(bool) override {}
    void finishSoon() override { finishing = true; }
    void run(const LinkOptions &options, const Job &job) override
    {
        m_jobs.append({options, job});
        if (!held)
            QMetaObject::invokeMethod(
                this, [this] { release(); }, Qt::QueuedConnection);
    }
    int inHand() const { return int(m_jobs.size()); }
    // Runs the oldest job over a fake line and tells its outcome.
    void release()
    {
        if (m_jobs.isEmpty()) return;
        const auto [options, job] = m_jobs.takeFirst();
        VirtualTimebase time;
        FakeLine line(time);
        line.onWrite = [this](FakeLine &l) {
            if (l.written.size() < 4 ||
                l.written.size() != quint8(l.written[2]) + (quint8(l.written[3]) << 8) + 5)
                return;
            const int address = quint8(l.written[4]);
            const QByteArray data = l.written.mid(8, l.written.size() - 9);
            frames.append({address, data});
            const QByteArray reply = answers.value(address, QByteArray(1, char(frame::kAck)));
            if (!reply.isEmpty()) l.answer(frame::build(qint16(address), reply), 20, 1);
        };
        PanelLink link(line, time, options);
        PanelCommands commands(link);
        const CommandOutcome outcome = job(commands);
        QMetaObject::invokeMethod(
            this, [this, outcome] { Q_EMIT finished(outcome); }, Qt::QueuedConnection);
    }
    // The texts the panels were given, as "address:text" (the load command's
    // plain characters).
    QStringList texts() const
    {
        QStringList out;
        for (const Frame &f : frames)
            out.append(QStringLiteral("%1:%2").arg(f.address).arg(QString::fromLatin1(f.data)));
        return out;
    }

private:
    QList<QPair<LinkOptions, Job>> m_jobs;
};

// Two panels on the line "sala" (1 and 2), files in a folder of their own.
struct InProcessService {
    QTemporaryDir dir;
    VirtualClock clock;
    FakePanelPort *port = nullptr;
    std::unique_ptr<LetreiroService> service;
    std::unique_ptr<AgendaRunner> agenda;

    // `extra`: sections after the panels; `lineKeys`, `serverKeys`: more keys
    // of the line, of [servidor].
    explicit InProcessService(const QString &extra = {}, bool start = true,
                              const QString &lineKeys = {}, const QString &serverKeys = {})
    {
        QString why;
        const auto config = ServerConfig::parse(
            QStringLiteral("[servidor]\nescuta = 127.0.0.1:0\nmensagens = mensagens\n%3"
                           "[linha sala]\nporta = falsa\n%2[painel entrada]\nlinha = sala\n"
                           "endereco = 1\n[painel caixa]\nlinha = sala\nendereco = 2\n%1")
                .arg(extra, lineKeys, serverKeys)
                .toUtf8(),
            dir.path(), &why);
        QVERIFY2(config, qPrintable(why));
        make(*config, start);
    }

    // The service again on the same files, as after a restart.
    void restart(bool start = true)
    {
        const ServerConfig config = service->config();
        agenda.reset();
        service.reset();
        make(config, start);
    }
    void make(const ServerConfig &config, bool start)
    {
        service =
            std::make_unique<LetreiroService>(config, &clock, [this](const ServerConfig::Line &) {
                auto p = std::make_unique<FakePanelPort>();
                port = p.get();
                return p;
            });
        if (!start) return;
        service->start();
        agenda = std::make_unique<AgendaRunner>(*service);
        service->startNote(agenda->start());
    }

    // Sends through the one send path; the result lands in *result.
    void send(SendRequest::Kind kind, const QStringList &panels, const QString &value,
              std::optional<SendResult> *result, qint64 deadlineMs = 0)
    {
        service->send({kind, panels, value, {}, QStringLiteral("teste"), deadlineMs},
                      [result](const SendResult &x) { *result = x; });
    }
    void text(const QString &panel, const QString &text, std::optional<SendResult> *result)
    {
        send(SendRequest::Kind::Text, {panel}, text, result);
    }
    void command(const QString &panel, const QString &name, std::optional<SendResult> *result)
    {
        send(SendRequest::Kind::Command, {panel}, name, result);
    }
};
