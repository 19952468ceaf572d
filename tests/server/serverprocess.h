#pragma once

// letreiro-servidor as a process of its own, on an emulated panel line
// (letreiro-cli painel), and an HTTP client to talk to it.
#include "cli/clirunner.h"
#include "testfiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryDir>

struct Reply {
    int status = 0;
    QByteArray body;
    QByteArray cookie;
    QList<QNetworkReply::RawHeaderPair> headers;
    QJsonValue json() const
    {
        const QJsonDocument d = QJsonDocument::fromJson(body);
        return d.isArray() ? QJsonValue(d.array()) : QJsonValue(d.object());
    }
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[k, v] : headers)
            if (k.compare(name, Qt::CaseInsensitive) == 0) return v;
        return {};
    }
};

// Two panels (entrada 1, caixa 2) on the line "sala", with a relay.
class ServerProcess
{
public:
    QTemporaryDir dir;
    QProcess server;
    QString url, relay, cookie;
    QString extraConfig;
    QString serverKeys; // more keys of [servidor]
    QList<QPair<QString, QByteArray>> users = {{"ana", "segredo"}};
    bool keepLog = false; // stderr kept for log() rather than shown
    std::unique_ptr<Emulator> panel;
    QNetworkAccessManager net;
    // Sent with every request, beside the content type and the credentials.
    QList<QPair<QByteArray, QByteArray>> headers;

    QString config(const QString &device)
    {
        const QString path = dir.filePath("letreiro.ini");
        writeFile(path, QString("[servidor]\nescuta = 127.0.0.1:0 ; qualquer porta livre\n"
                                "mensagens = mensagens\n%3\n[linha sala]\nporta = %1\n"
                                "repasse = 127.0.0.1:0\n\n[painel entrada]\nlinha = sala\n"
                                "endereco = 1\ntipo = 0\n\n[painel caixa]\nlinha = sala\n"
                                "endereco = 2\n\n%2")
                            .arg(device, extraConfig, serverKeys)
                            .toUtf8());
        return path;
    }

    // A user's password, as an administrator sets it with the service running.
    void setPassword(const QString &user, const QByteArray &password)
    {
        QProcess p;
        p.start(LETREIRO_SERVIDOR, {"--config", dir.filePath("letreiro.ini"), "--usuario", user});
        p.write(password + '\n');
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(p.readAllStandardOutput(), "senha de " + user.toUtf8() + " gravada\n");
    }

    void start(const QString &device)
    {
        const QString cfg = config(device);
        for (const auto &[user, password] : users)
            setPassword(user, password);
        // What the service says on stderr goes to the test's output.
        server.setProcessChannelMode(keepLog ? QProcess::SeparateChannels
                                             : QProcess::ForwardedErrorChannel);
        server.start(LETREIRO_SERVIDOR, {"--config", cfg});
        // A service built with a sanitizer starts slowly on a busy machine;
        // one that refused its configuration has ended already.
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine() || server.state() == QProcess::NotRunning,
                                 30000);
        QVERIFY2(server.canReadLine(), "the service ended as it started");
        url = QString::fromUtf8(server.readLine()).trimmed();
        QVERIFY2(url.startsWith("http://127.0.0.1:"), qPrintable(url));
        QTRY_VERIFY(server.canReadLine());
        relay = QString::fromUtf8(server.readLine()).trimmed().section(' ', 2);
    }

    // A new emulated line (addresses 1 and 2) and the service on it.
    void startWithPanel()
    {
        panel = std::make_unique<Emulator>(QStringList{"--endereco", "1,2"});
        start(panel->device);
    }

    // What the service said on stderr so far (with keepLog).
    QString log() { return m_log += QString::fromUtf8(server.readAllStandardError()); }

    ~ServerProcess() { stop(); }
    // Gone without a word, as after a power cut.
    void kill()
    {
        server.kill();
        server.waitForFinished();
    }
    void stop()
    {
        server.terminate();
        server.waitForFinished(10000);
        panel.reset();
        cookie.clear();
        headers.clear();
    }

    QNetworkReply *send(const QByteArray &method, const QString &path, const QByteArray &body = {},
                        const QByteArray &auth = {})
    {
        QNetworkRequest req(QUrl(url + path));
        req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        if (!auth.isEmpty())
            req.setRawHeader("Authorization", auth);
        else if (!cookie.isEmpty())
            req.setRawHeader("Cookie", cookie.toUtf8());
        for (const auto &[name, value] : headers)
            req.setRawHeader(name, value);
        return net.sendCustomRequest(req, method, body);
    }

    static Reply wait(QNetworkReply *r, int ms = 30000)
    {
        if (!r->isFinished()) QSignalSpy(r, &QNetworkReply::finished).wait(ms);
        Reply out{r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), r->readAll(),
                  r->rawHeader("Set-Cookie"), r->rawHeaderPairs()};
        r->deleteLater();
        return out;
    }

    Reply call(const QByteArray &method, const QString &path, const QByteArray &body = {},
               const QByteArray &auth = {})
    {
        return wait(send(method, path, body, auth));
    }

    quint16 port() const { return quint16(url.section(':', -1).toUInt()); }

    void login()
    {
        const Reply r = call("POST", "/api/entrar", R"({"usuario":"ana","senha":"segredo"})");
        QCOMPARE(r.status, 200);
        cookie = QString::fromUtf8(r.cookie).section(';', 0, 0);
    }

private:
    QString m_log;
};
