#pragma once

// letreiro-servidor for a test over real sockets: a panel emulator on a
// pseudo-terminal with addresses 1 and 2 (panels "entrada" and "caixa"),
// the service on a free port of loopback with the user "ana", and calls to
// its API.
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

class ServiceFixture
{
protected:
    QTemporaryDir m_dir;
    QProcess m_server;
    QString m_url, m_relay, m_cookie;
    QString m_extraConfig;
    std::unique_ptr<Emulator> m_panel;
    QNetworkAccessManager m_net;
    // Sent with every call, beside the content type and the credentials.
    QList<QPair<QByteArray, QByteArray>> m_headers;

    QString config(const QString &device)
    {
        const QString path = m_dir.filePath("letreiro.ini");
        writeFile(path, QString("[servidor]\nescuta = 127.0.0.1:0 ; qualquer porta livre\n"
                                "mensagens = mensagens\n\n[linha sala]\nporta = %1\n"
                                "repasse = 127.0.0.1:0\n\n[painel entrada]\nlinha = sala\n"
                                "endereco = 1\ntipo = 0\n\n[painel caixa]\nlinha = sala\n"
                                "endereco = 2\n\n%2")
                            .arg(device, m_extraConfig)
                            .toUtf8());
        return path;
    }

    void startServer(const QString &device)
    {
        const QString cfg = config(device);
        QProcess user;
        user.start(LETREIRO_SERVIDOR, {"--config", cfg, "--usuario", "ana"});
        user.write("segredo\n");
        user.closeWriteChannel();
        QVERIFY(user.waitForFinished(20000));
        QCOMPARE(user.exitCode(), 0);
        // What the service says on stderr goes to the test's output.
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.start(LETREIRO_SERVIDOR, {"--config", cfg});
        QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine(), 10000);
        m_url = QString::fromUtf8(m_server.readLine()).trimmed();
        QVERIFY2(m_url.startsWith("http://127.0.0.1:"), qPrintable(m_url));
        QTRY_VERIFY(m_server.canReadLine());
        m_relay = QString::fromUtf8(m_server.readLine()).trimmed().section(' ', 2);
    }

    void start()
    {
        m_panel = std::make_unique<Emulator>(QStringList{"--endereco", "1,2"});
        startServer(m_panel->device);
    }

    void stop()
    {
        m_server.terminate();
        m_server.waitForFinished(10000);
        m_panel.reset();
        m_cookie.clear();
        m_headers.clear();
    }

    Reply call(const QByteArray &method, const QString &path, const QByteArray &body = {},
               const QByteArray &auth = {})
    {
        QNetworkRequest req(QUrl(m_url + path));
        req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        if (!auth.isEmpty())
            req.setRawHeader("Authorization", auth);
        else if (!m_cookie.isEmpty())
            req.setRawHeader("Cookie", m_cookie.toUtf8());
        for (const auto &[name, value] : m_headers)
            req.setRawHeader(name, value);
        QNetworkReply *r = m_net.sendCustomRequest(req, method, body);
        QSignalSpy done(r, &QNetworkReply::finished);
        done.wait(30000);
        Reply out{r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), r->readAll(),
                  r->rawHeader("Set-Cookie"), r->rawHeaderPairs()};
        r->deleteLater();
        return out;
    }

    void login()
    {
        const Reply r = call("POST", "/api/entrar", R"({"usuario":"ana","senha":"segredo"})");
        QCOMPARE(r.status, 200);
        m_cookie = QString::fromUtf8(r.cookie).section(';', 0, 0);
    }
};
