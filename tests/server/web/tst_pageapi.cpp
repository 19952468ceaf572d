// What the page relies on, over real sockets: its files under a strict
// policy, the warnings on what a panel will receive (and "estrito"
// refusing them), one send per Idempotency-Key, the preview equal to what
// goes on the wire, and the effects per panel type.
#include "serverprocess.h"

#include <QRegularExpression>

namespace
{

// The text the emulator printed for the next frame to `address`.
QString received(Emulator &panel, int address)
{
    const QString line = panel.nextFrame();
    const QString head = QStringLiteral("endereço %1, verificação certa: L").arg(address);
    return line.startsWith(head) ? line.mid(head.size()) : "(" + line + ")";
}

} // namespace

class TestPageApi : public QObject
{
    Q_OBJECT
private:
    ServerProcess s;

private Q_SLOTS:
    void init()
    {
        s.extraConfig = "[painel vitrine]\nlinha = sala\nendereco = 3\ntipo = 2\n";
        s.startWithPanel();
    }
    void cleanup() { s.stop(); }

    void thePageUnderAStrictPolicy()
    {
        const Reply page = s.call("GET", "/");
        QCOMPARE(page.status, 200);
        const QByteArray csp = page.header("Content-Security-Policy");
        QVERIFY2(!csp.contains("unsafe") && csp.contains("script-src 'self'") &&
                     csp.contains("frame-ancestors 'none'"),
                 csp.constData());
        // Nothing inline that the policy would block: every script and
        // style is a file of the service, and each is there with its type.
        QVERIFY(!page.body.contains("<style") && !page.body.contains(" style="));
        QVERIFY(!page.body.contains("<script>"));
        static const QRegularExpression file("(?:src|href)=\"/([a-z]+\\.(?:js|css))");
        QStringList files;
        for (auto m = file.globalMatch(page.body); m.hasNext();)
            files << m.next().captured(1);
        for (int i = 0; i < files.size(); ++i) {
            const Reply r = s.call("GET", "/" + files[i]);
            QCOMPARE(r.status, 200);
            QVERIFY(r.header("Content-Type")
                        .startsWith(files[i].endsWith(".css") ? "text/css" : "text/javascript"));
            // The modules the scripts import are served too.
            static const QRegularExpression import("from \"\\./([a-z]+\\.js)\"");
            for (auto m = import.globalMatch(r.body); m.hasNext();)
                if (const QString f = m.next().captured(1); !files.contains(f)) files << f;
        }
        QVERIFY2(files.size() >= 5, qPrintable(files.join(' ')));
        // Every answer, an error too, says how it may be read and framed.
        for (const Reply &r : {page, s.call("GET", "/api/paineis"), s.call("GET", "/nada.js")}) {
            QCOMPARE(r.header("X-Content-Type-Options"), "nosniff");
            QCOMPARE(r.header("Referrer-Policy"), "no-referrer");
            QVERIFY(r.header("Content-Security-Policy").contains("frame-ancestors 'none'"));
        }
        QCOMPARE(s.call("GET", "/nada.js").status, 404);
        QCOMPARE(s.call("GET", "/api/sessao").status, 401);
        s.login();
        QCOMPARE(s.call("GET", "/api/sessao").json().toObject().value("usuario"), "ana");
    }

    void whatChangesIsSaidAndStrictSendsNothing()
    {
        s.login();
        const QByteArray altered = R"({"texto":"Seta → aqui\nfim 25°C"})";
        Reply r = s.call("POST", "/api/paineis/entrada/texto", altered);
        QCOMPARE(r.status, 200);
        const QJsonArray warnings = r.json().toObject().value("avisos").toArray();
        QCOMPARE(warnings.size(), 3);
        QVERIFY(warnings[0].toString().contains("→"));
        QVERIFY(warnings[1].toString().contains("quebras de linha"));
        QVERIFY(warnings[2].toString().contains("<Pausa______>"));
        QCOMPARE(received(*s.panel, 1), "Seta ? aquifim 25<Pausa______>C");

        // Strict: 422 with the same warnings, and the panel hears nothing:
        // the next frame it gets is the text that follows.
        r = s.call("POST", "/api/paineis/entrada/texto",
                   QByteArray(altered).replace("}", R"(,"estrito":true})"));
        QCOMPARE(r.status, 422);
        QCOMPARE(r.json().toObject().value("avisos").toArray(), warnings);
        r = s.call("POST", "/api/paineis/entrada/texto",
                   R"({"texto":"Tudo certo","estrito":true})");
        QCOMPARE(r.status, 200);
        QVERIFY(!r.json().toObject().contains("avisos"));
        QCOMPARE(received(*s.panel, 1), "Tudo certo");
        // A message of the library is checked as a text is.
        QCOMPARE(s.call("PUT", "/api/mensagens/seta.msg", "{\\rtf1 Seta \\u8594?}").status, 200);
        r = s.call("POST", "/api/paineis/entrada/mensagem",
                   R"({"arquivo":"seta.msg","estrito":true})");
        QCOMPARE(r.status, 422);
        // The agenda's texts say it too.
        r = s.call("PUT", "/api/agenda", R"([{"nome":"seta","quando":"08:00","texto":"→"}])");
        QCOMPARE(r.status, 200);
        QVERIFY(r.json().toArray()[0].toObject()["avisos"].toArray()[0].toString().contains("→"));
        // Neither the refused message nor the agenda reached the panel.
        QCOMPARE(s.call("POST", "/api/paineis/entrada/texto", R"({"texto":"Depois"})").status, 200);
        QCOMPARE(received(*s.panel, 1), "Depois");
    }

    void oneKeyOneSend()
    {
        s.login();
        s.headers = {{"Idempotency-Key", "clique-1"}};
        // Two at once, as a double click sends them: one frame, one answer.
        QNetworkRequest req(QUrl(s.url + "/api/paineis/entrada/texto"));
        req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        req.setRawHeader("Cookie", s.cookie.toUtf8());
        req.setRawHeader("Idempotency-Key", "clique-1");
        QList<QNetworkReply *> replies;
        for (int i = 0; i < 2; ++i)
            replies << s.net.post(req, QByteArray(R"({"texto":"Uma vez"})"));
        for (QNetworkReply *r : replies)
            if (!r->isFinished()) QVERIFY(QSignalSpy(r, &QNetworkReply::finished).wait(30000));
        const QByteArray first = replies[0]->readAll();
        QVERIFY2(first.contains("\"ok\":true"), first.constData());
        QCOMPARE(replies[1]->readAll(), first);
        qDeleteAll(replies);
        // Later, the same key still answers the first result and sends nothing.
        QCOMPARE(s.call("POST", "/api/paineis/entrada/texto", R"({"texto":"Uma vez"})").body,
                 first);
        // The same key on another route is another request.
        QCOMPARE(s.call("POST", "/api/paineis/caixa/texto", R"({"texto":"Outro"})").status, 200);
        s.headers = {{"Idempotency-Key", "clique-2"}};
        QCOMPARE(s.call("POST", "/api/paineis/entrada/texto", R"({"texto":"Outra vez"})").status,
                 200);
        QCOMPARE(received(*s.panel, 1), "Uma vez");
        QCOMPARE(received(*s.panel, 2), "Outro");
        QCOMPARE(received(*s.panel, 1), "Outra vez");
        s.headers = {{"Idempotency-Key", QByteArray(300, 'k')}};
        QCOMPARE(s.call("POST", "/api/paineis/entrada/texto", R"({"texto":"x"})").status, 400);
    }

    void thePreviewIsWhatIsSent()
    {
        s.login();
        const QString text = "Promoção → 25°C\nhoje <Pisca______>já " + QString(20, u'x');
        for (const QString &panel : {QStringLiteral("entrada"), QStringLiteral("vitrine")}) {
            QUrlQuery q;
            q.addQueryItem("texto", text);
            q.addQueryItem("painel", panel);
            q.addQueryItem("formato", "json");
            const QJsonObject preview =
                s.call("GET", "/api/previa?" + q.toString(QUrl::FullyEncoded)).json().toObject();
            const QJsonObject posted =
                s.call("POST", "/api/previa",
                       QJsonDocument(QJsonObject{{"texto", text}, {"painel", panel}}).toJson())
                    .json()
                    .toObject();
            QCOMPARE(posted, preview);
            QCOMPARE(preview.value("avisos").toArray().size(), 3);
            QCOMPARE(preview.value("limite").toInt(), 7500);
            const Reply sent = s.call("POST", "/api/paineis/" + panel + "/texto",
                                      QJsonDocument(QJsonObject{{"texto", text}}).toJson());
            QCOMPARE(sent.json().toObject().value("avisos"), preview.value("avisos"));
            QCOMPARE(received(*s.panel, panel == u"entrada" ? 1 : 3),
                     preview.value("texto").toString());
        }
    }

    // Previews of a big message have threads of their own: the session and
    // a login answer before any of them is drawn, and beyond a few waiting
    // the next preview is refused at once instead of queued.
    void previewsHoldUpNoOne()
    {
        s.login();
        QDir(s.dir.path()).mkpath("mensagens");
        writeFile(s.dir.filePath("mensagens/grande.msg"),
                  "{\\rtf1 " + QByteArray(4 * 1024 * 1024 - 16, 'a') + "}");
        QStringList order; // the answers, as they come
        const auto noted = [&order](QNetworkReply *r, const QString &what) {
            connect(r, &QNetworkReply::finished, r, [&order, r, what] {
                order << what + ' ' +
                             r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toString();
            });
            return r;
        };
        // A client keeps at most six connections to a server: more clients.
        std::vector<std::unique_ptr<QNetworkAccessManager>> clients;
        QList<QNetworkReply *> previews;
        for (int i = 0; i < 12; ++i) {
            if (i % 6 == 0) clients.push_back(std::make_unique<QNetworkAccessManager>());
            QNetworkRequest req(QUrl(s.url + "/api/previa?arquivo=grande.msg&largura=30&ate=600"));
            req.setRawHeader("Cookie", s.cookie.toUtf8());
            previews << noted(clients.back()->get(req), "previa");
        }
        QTRY_VERIFY_WITH_TIMEOUT(order.contains("previa 503"), 30000);
        const auto busy = std::find_if(previews.cbegin(), previews.cend(), [](QNetworkReply *r) {
            return r->isFinished() && r->attribute(QNetworkRequest::HttpStatusCodeAttribute) == 503;
        });
        QCOMPARE((*busy)->rawHeader("Retry-After"), "1");
        QVERIFY((*busy)->readAll().contains("servidor ocupado; tente de novo"));
        const Reply session = ServerProcess::wait(noted(s.send("GET", "/api/sessao"), "sessao"));
        QCOMPARE(session.status, 200);
        const Reply login = ServerProcess::wait(noted(
            s.send("POST", "/api/entrar", R"({"usuario":"ana","senha":"segredo"})"), "entrar"));
        QCOMPARE(login.status, 200);
        QVERIFY2(!order.contains("previa 200"), qPrintable(order.join(", ")));
    }

    void effectsPerPanelTypeInTheDesktopsWords()
    {
        s.login();
        const QJsonArray menus = s.call("GET", "/api/efeitos").json().toArray();
        QStringList names;
        QHash<QString, QJsonArray> types;
        for (const QJsonValue &m : menus) {
            names << m["menu"].toString();
            for (const QJsonValue &e : m["efeitos"].toArray()) {
                QVERIFY(!e["legenda"].toString().contains('&'));
                types.insert(e["legenda"].toString(), e["tipos"].toArray());
            }
        }
        QCOMPARE(names, QStringList({"Prefixos", "Sufixos", "Outros"}));
        QVERIFY(types["Roda Baixo"].contains(2) && !types["Roda Baixo"].contains(0));
        QVERIFY(types["Roda 4"].contains(0) && !types["Roda 4"].contains(2));
        QCOMPARE(types["Pisca"].size(), 9);
        QVERIFY(!types.contains("Apaga Tela")); // no code: the panel plays nothing
    }
};

QTEST_GUILESS_MAIN(TestPageApi)
#include "tst_pageapi.moc"
