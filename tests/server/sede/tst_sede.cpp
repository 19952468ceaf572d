// The head office in-process, on virtual time: what the sites publish
// becomes their states (each at its edge), a send's rows follow the answers
// and their deadline, who may read and send is decided by the API, and the
// audit outlives a restart.
#include "fakeservice.h"
#include "headoffice.h"
#include "mqtt/fakemqttlink.h"
#include "statewriter.h"
#include "testfiles.h"
#include "userstore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

namespace
{

// The broker as the head office sees it: what it asked and whom.
class SedeLink : public FakeMqttLink
{
public:
    QList<Request> requests;
    void request(const Request &r) override { requests.append(r); }
    void answer(const Request &r, const QByteArray &result, const QString &reason = {})
    {
        Message m;
        m.topic = r.responseTopic;
        m.correlation = r.correlation;
        QJsonObject o{{QStringLiteral("resultado"), QString::fromUtf8(result)}};
        if (!reason.isEmpty()) o.insert(QStringLiteral("motivo"), reason);
        m.payload = QJsonDocument(o).toJson();
        received(m);
    }
};

struct Office {
    QTemporaryDir dir;
    VirtualClock clock;
    StateWriter writer;
    UserStore users{dir.filePath(QStringLiteral("usuarios.json"))};
    SedeLink *link = nullptr;
    std::unique_ptr<HeadOffice> office;

    Office()
    {
        QString why;
        users.setPassword(QStringLiteral("chefe"), QStringLiteral("x"), &why);
        users.setPassword(QStringLiteral("ana"), QStringLiteral("x"), &why);
        users.setAccess(QStringLiteral("ana"), {{QStringLiteral("norte")}, false}, &why);
        users.setPassword(QStringLiteral("leo"), QStringLiteral("x"), &why);
        users.setAccess(QStringLiteral("leo"), {{}, true}, &why);
        start();
    }
    void start()
    {
        QString why;
        const auto config = ServerConfig::parse(
            "[sede]\nservidor = 127.0.0.1:1883\nvalidade = 10min\ndesatualizado = 3min\n"
            "sitios = loja9\n[grupo sul]\nsitios = loja1, loja2, loja3\n[grupo norte]\nsitios = loja4\n",
            dir.path(), &why);
        QVERIFY2(config, qPrintable(why));
        auto l = std::make_unique<SedeLink>();
        link = l.get();
        office.reset();
        office = std::make_unique<HeadOffice>(*config, clock, writer, users, std::move(l));
        QVERIFY(office->start(&why));
        link->connected(false);
        QCoreApplication::processEvents();
    }
    void hear(const QString &topic, const QByteArray &payload, bool retained = false)
    {
        MqttLink::Message m;
        m.topic = topic;
        m.payload = payload;
        m.retained = retained;
        link->received(m);
        QCoreApplication::processEvents();
    }
    void site(const QString &name, const QStringList &panels)
    {
        QJsonArray list;
        for (const QString &p : panels)
            list.append(QJsonObject{{QStringLiteral("painel"), p}, {QStringLiteral("tipo"), 0}});
        hear(QStringLiteral("letreiro/%1/estado").arg(name), "online");
        hear(QStringLiteral("letreiro/%1/paineis").arg(name),
             QJsonDocument(QJsonObject{{QStringLiteral("paineis"), list}}).toJson());
    }
    // The API's answer: status and JSON.
    QPair<int, QJsonDocument> call(const QByteArray &method, const QString &path,
                                   const QJsonObject &body = {}, const QString &user = QStringLiteral("chefe"))
    {
        HttpRequest req;
        req.method = method;
        req.target = "/api/sede/" + path.toUtf8();
        req.body = QJsonDocument(body).toJson();
        QPair<int, QJsonDocument> out{0, {}};
        office->route(req, path.section(u'?', 0, 0).split(u'/'), user, [&](HttpResponse r) {
            out = {r.status, QJsonDocument::fromJson(r.body)};
        });
        return out;
    }
    QJsonObject siteJson(const QString &name) { return call("GET", QStringLiteral("sitios/") + name).second.object(); }
};

QMap<QString, QString> rows(const QJsonObject &send)
{
    QMap<QString, QString> out;
    for (const QJsonValue &v : send.value(QStringLiteral("linhas")).toArray()) {
        const QJsonObject r = v.toObject();
        out.insert(r[QStringLiteral("sitio")].toString() + u'/' + r[QStringLiteral("painel")].toString(),
                   r[QStringLiteral("resultado")].toString() +
                       (r.contains(QStringLiteral("motivo")) ? u' ' + r[QStringLiteral("motivo")].toString() : QString()));
    }
    return out;
}

} // namespace

class TestSede : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qputenv("TZ", "UTC"); }

    void sitesAtTheirEdges()
    {
        Office o;
        QCOMPARE(o.siteJson(QStringLiteral("loja9"))[QStringLiteral("estado")].toString(), QStringLiteral("nunca visto"));
        o.site(QStringLiteral("loja1"), {QStringLiteral("entrada")});
        const auto state = [&] { return o.siteJson(QStringLiteral("loja1"))[QStringLiteral("estado")].toString(); };
        QCOMPARE(state(), QStringLiteral("online"));
        o.clock.advance(180 * 1000); // silent exactly as long as allowed
        QCOMPARE(state(), QStringLiteral("online"));
        o.clock.advance(1);
        QCOMPARE(state(), QStringLiteral("desatualizado"));
        o.hear(QStringLiteral("letreiro/loja1/paineis"), R"({"paineis":[{"painel":"entrada"}]})");
        QCOMPARE(state(), QStringLiteral("online"));
        // Its will: offline since the moment it came, and listed first.
        o.clock.advance(60 * 1000);
        o.hear(QStringLiteral("letreiro/loja1/estado"), "offline");
        QCOMPARE(o.siteJson(QStringLiteral("loja1"))[QStringLiteral("desde")].toString(),
                 isoWithOffset(o.clock.now()));
        QCOMPARE(o.call("GET", QStringLiteral("sitios")).second[QStringLiteral("sitios")][0][QStringLiteral("sitio")].toString(),
                 QStringLiteral("loja1"));
        // Retained from before the head office listened: since the site's last word.
        o.hear(QStringLiteral("letreiro/loja2/paineis"), R"({"quando":"2026-03-02T08:00:00Z","paineis":[]})", true);
        o.hear(QStringLiteral("letreiro/loja2/estado"), "offline", true);
        QCOMPARE(o.siteJson(QStringLiteral("loja2"))[QStringLiteral("desde")].toString(),
                 QStringLiteral("2026-03-02T08:00:00Z"));
        o.hear(QStringLiteral("letreiro/loja3/estado"), "sem leitura");
        QCOMPARE(o.siteJson(QStringLiteral("loja3"))[QStringLiteral("estado")].toString(), QStringLiteral("sem leitura"));
        // A panel's state: its last result and text, for the preview.
        o.hear(QStringLiteral("letreiro/loja1/entrada/estado"), R"({"resultado":"falhou","motivo":"NAK","texto":"Oi"})");
        QCOMPARE(o.siteJson(QStringLiteral("loja1"))[QStringLiteral("pior")].toString(), QStringLiteral("falhou"));
        // Bounds against a broker anyone may write on.
        QJsonArray many;
        for (int i = 0; i <= Fleet::kMaxPanels; ++i)
            many.append(QJsonObject{{QStringLiteral("painel"), QStringLiteral("p%1").arg(i)}});
        o.hear(QStringLiteral("letreiro/grande/paineis"), QJsonDocument(QJsonObject{{QStringLiteral("paineis"), many}}).toJson());
        QCOMPARE(o.siteJson(QStringLiteral("grande"))[QStringLiteral("paineis")].toArray().size(), Fleet::kMaxPanels);
        Fleet f({}, 1000);
        for (int i = 0; i < Fleet::kMaxSites; ++i)
            QVERIFY(f.take(QStringLiteral("letreiro/s%1/estado").arg(i), "online", false, 0));
        QVERIFY(!f.take(QStringLiteral("letreiro/mais/estado"), "online", false, 0));
        QVERIFY(f.take(QStringLiteral("letreiro/s0/estado"), "offline", false, 0));
        QVERIFY(!f.take(QStringLiteral("letreiro/s0/entrada/texto"), "x", false, 0));
        QVERIFY(!f.take(QStringLiteral("letreiro/s0/estado"), "", true, 0)); // a record taken away
    }

    void aGroupSendRowByRow()
    {
        Office o;
        o.site(QStringLiteral("loja1"), {QStringLiteral("entrada"), QStringLiteral("caixa")});
        o.site(QStringLiteral("loja2"), {QStringLiteral("entrada")});
        o.site(QStringLiteral("loja3"), {QStringLiteral("entrada")});
        o.hear(QStringLiteral("letreiro/loja3/estado"), "offline");
        auto [status, sent] = o.call("POST", QStringLiteral("envios"),
                                     {{QStringLiteral("grupo"), QStringLiteral("sul")},
                                      {QStringLiteral("texto"), QStringLiteral("Liquidação")}});
        QCOMPARE(status, 202);
        const QString id = sent[QStringLiteral("id")].toString();
        QCOMPARE(o.link->requests.size(), 4);
        const MqttLink::Request first = o.link->requests[0];
        QCOMPARE(first.topic, QStringLiteral("letreiro/loja1/entrada/texto"));
        QCOMPARE(first.payload, QStringLiteral("Liquidação").toUtf8());
        QCOMPARE(first.responseTopic, QStringLiteral("letreiro-sede/sede/respostas"));
        QCOMPARE(first.expirySeconds, 600);
        QCOMPARE(rows(sent.object()).value(QStringLiteral("loja3/entrada")),
                 QStringLiteral("aguardando aguardando o sítio (expira às 09:10)"));
        o.link->answer(o.link->requests[0], "enviado");
        o.link->acknowledged(o.link->requests[0].topic, 0);
        o.link->answer(o.link->requests[1], "enviado");
        o.link->answer(o.link->requests[2], "falhou", QStringLiteral("o painel recusou"));
        o.link->answer(o.link->requests[2], "enviado"); // once only
        // Answers for rows the answering site was never sent count for nothing.
        for (const QByteArray &wrong : {id.toUtf8() + "/99/" + first.correlation.split('/').last(),
                                        id.toUtf8() + "/3/" + first.correlation.split('/').last(),
                                        id.toUtf8() + "/3"}) {
            MqttLink::Request forged = first;
            forged.correlation = wrong;
            o.link->answer(forged, "enviado");
        }
        QCoreApplication::processEvents();
        const auto now = [&] { return o.call("GET", QStringLiteral("envios/") + id).second.object(); };
        QCOMPARE(now()[QStringLiteral("resumo")].toString(), QStringLiteral("2 de 4 enviados, 1 falhou, 1 aguardando"));
        // Each answer is in the audit file at once, not at the send's end.
        o.writer.flush();
        QVERIFY(contents(o.dir.filePath(QStringLiteral("sede-envios.json"))).contains("o painel recusou"));
        // The deadline: the validity, and a minute for a frame still in hand.
        o.clock.advance(11 * 60 * 1000 - 1);
        QCOMPARE(rows(now()).value(QStringLiteral("loja3/entrada")).section(u' ', 0, 0), QStringLiteral("aguardando"));
        o.clock.advance(1000);
        QCOMPARE(rows(now()).value(QStringLiteral("loja3/entrada")),
                 QStringLiteral("sem resposta o sítio não voltou até 09:10"));
        QCOMPARE(now()[QStringLiteral("resumo")].toString(), QStringLiteral("2 de 4 enviados, 1 falhou, 1 sem resposta"));
        QVERIFY(!now()[QStringLiteral("aberto")].toBool());
        o.writer.flush(); // and the audit says so too
        QVERIFY(contents(o.dir.filePath(QStringLiteral("sede-envios.json"))).contains("o sítio não voltou"));
        // Again, only where it did not arrive.
        auto [again, repeat] = o.call("POST", QStringLiteral("envios/%1/repetir").arg(id));
        QCOMPARE(again, 202);
        QCOMPARE(rows(repeat.object()).keys(), (QStringList{QStringLiteral("loja2/entrada"), QStringLiteral("loja3/entrada")}));
        QCOMPARE(o.call("POST", QStringLiteral("envios"), {{QStringLiteral("comando"), QStringLiteral("pisca")}}).first, 400);
        QCOMPARE(o.call("POST", QStringLiteral("envios"), {{QStringLiteral("texto"), QString()}}).first, 400);

        // The audit outlives a restart, and an answer still waited for counts.
        const MqttLink::Request asked = o.link->requests.last();
        o.writer.flush();
        o.start();
        QCOMPARE(o.call("GET", QStringLiteral("envios")).second.array().size(), 2);
        o.link->answer(asked, "enviado"); // asked before the restart, answered after
        QCoreApplication::processEvents();
        const auto repeated = [&] {
            return o.call("GET", QStringLiteral("envios/") + repeat[QStringLiteral("id")].toString()).second.object();
        };
        QCOMPARE(repeated()[QStringLiteral("resumo")].toString(), QStringLiteral("1 de 2 enviados, 1 aguardando"));
        // Still open, and its deadline still holds after the restart.
        QVERIFY(repeated()[QStringLiteral("aberto")].toBool());
        o.clock.advance(11 * 60 * 1000);
        QCOMPARE(repeated()[QStringLiteral("resumo")].toString(), QStringLiteral("1 de 2 enviados, 1 sem resposta"));
        QCOMPARE(rows(repeated()).value(QStringLiteral("loja2/entrada")), QStringLiteral("sem resposta o sítio não voltou até 09:21"));
    }

    void whoMayDoWhat()
    {
        Office o;
        o.site(QStringLiteral("loja1"), {QStringLiteral("entrada")});
        o.site(QStringLiteral("loja4"), {QStringLiteral("entrada")});
        const QString ana = QStringLiteral("ana"), leo = QStringLiteral("leo");
        QCOMPARE(o.call("GET", QStringLiteral("sitios"), {}, ana).second[QStringLiteral("sitios")].toArray().size(), 1);
        QCOMPARE(o.call("GET", QStringLiteral("sitios/loja1"), {}, ana).first, 404);
        const QJsonObject text{{QStringLiteral("texto"), QStringLiteral("x")}};
        for (const QJsonObject &where :
             {QJsonObject{{QStringLiteral("sitios"), QJsonArray{QStringLiteral("loja1")}}},
              QJsonObject{{QStringLiteral("grupo"), QStringLiteral("sul")}},
              QJsonObject{{QStringLiteral("alvos"), QJsonArray{QJsonObject{{QStringLiteral("sitio"), QStringLiteral("loja1")},
                                                                          {QStringLiteral("painel"), QStringLiteral("entrada")}}}}}}) {
            QJsonObject body = where;
            body.insert(QStringLiteral("texto"), QStringLiteral("x"));
            QCOMPARE(o.call("POST", QStringLiteral("envios"), body, ana).first, 403);
        }
        QCOMPARE(o.link->requests.size(), 0);
        // Everything ana may reach: loja4 alone.
        QCOMPARE(o.call("POST", QStringLiteral("envios"), text, ana).first, 202);
        QCOMPARE(o.link->requests.size(), 1);
        QCOMPARE(o.link->requests[0].topic, QStringLiteral("letreiro/loja4/entrada/texto"));
        // The broker's ACL said no: no site will answer, and the row says why.
        o.link->acknowledged(o.link->requests[0].topic, 0x87);
        QCoreApplication::processEvents();
        const QJsonArray mine = o.call("GET", QStringLiteral("envios?linhas=1"), {}, ana).second.array();
        QVERIFY2(rows(mine[0].toObject()).value(QStringLiteral("loja4/entrada")).startsWith(
                     QStringLiteral("recusado o broker recusou a publicação: ")),
                 qPrintable(rows(mine[0].toObject()).value(QStringLiteral("loja4/entrada"))));
        QCOMPARE(o.call("POST", QStringLiteral("envios"), text, leo).first, 403);
        // A site nobody named nor heard of is a typo; one heard without its
        // panels yet is said, not silently left out.
        QCOMPARE(o.call("POST", QStringLiteral("envios"),
                        {{QStringLiteral("sitios"), QJsonArray{QStringLiteral("loja7")}}, {QStringLiteral("texto"), QStringLiteral("x")}}).first,
                 400);
        o.hear(QStringLiteral("letreiro/loja5/estado"), "online");
        const auto [partly, noted] = o.call("POST", QStringLiteral("envios"),
            {{QStringLiteral("sitios"), QJsonArray{QStringLiteral("loja4"), QStringLiteral("loja5")}}, {QStringLiteral("texto"), QStringLiteral("x")}});
        QCOMPARE(partly, 202);
        QCOMPARE(noted[QStringLiteral("avisos")][0].toString(), QStringLiteral("loja5: painéis ainda desconhecidos, nada enviado"));
        const QString id = o.call("POST", QStringLiteral("envios"), text).second[QStringLiteral("id")].toString();
        QCOMPARE(o.call("GET", QStringLiteral("envios/") + id, {}, ana).first, 404);
        // Hers, and the one whose every row is in her reach.
        QCOMPARE(o.call("GET", QStringLiteral("envios"), {}, ana).second.array().size(), 2);
    }

    void boundsOfSends()
    {
        QList<FleetSends::Target> targets(FleetSends::kMaxRows, {QStringLiteral("s"), QStringLiteral("p"), true});
        int published = 0;
        FleetSends sends(60000, [&](auto &&...) { ++published; }, [](const FleetSends::Send &) {});
        QString why;
        QVERIFY(sends.start(QStringLiteral("a"), QStringLiteral("texto"), QStringLiteral("x"),
                            targets + QList<FleetSends::Target>{targets[0]}, 0, &why).isEmpty());
        QVERIFY(!sends.start(QStringLiteral("a"), QStringLiteral("texto"), QStringLiteral("x"), targets, 0, &why).isEmpty());
        QCOMPARE(published, FleetSends::kMaxRows);
        for (int i = 1; i < FleetSends::kMaxOpen; ++i)
            QVERIFY(!sends.start(QStringLiteral("a"), QStringLiteral("texto"), QStringLiteral("x"), {targets[0]}, 0, &why).isEmpty());
        QVERIFY(sends.start(QStringLiteral("a"), QStringLiteral("texto"), QStringLiteral("x"), {targets[0]}, 0, &why).isEmpty());
        QVERIFY2(why.contains(QStringLiteral("espere")), qPrintable(why));
        sends.expire(120000);
        const auto one = [&] {
            return sends.start(QStringLiteral("a"), QStringLiteral("texto"), QStringLiteral("x"),
                               {targets[0]}, 120000, &why);
        };
        QVERIFY(!one().isEmpty());
        // Finished sends are kept up to kKept; then the oldest leaves for the new one.
        const QString oldest = sends.sends().front().id;
        while (int(sends.sends().size()) < FleetSends::kKept) {
            sends.expire(300000);
            QVERIFY(!one().isEmpty());
        }
        QCOMPARE(sends.sends().front().id, oldest);
        sends.expire(300000);
        QVERIFY(!one().isEmpty());
        QCOMPARE(int(sends.sends().size()), FleetSends::kKept);
        QVERIFY(sends.sends().front().id != oldest);
    }

    void metricsReadAsPrometheusDoes()
    {
        Office o;
        o.site(QStringLiteral("loja1"), {QStringLiteral("entrada")});
        o.hear(QStringLiteral("letreiro/a\"b\\c/estado"), "offline");
        const QByteArray m = o.office->metrics();
        // Every sample under its family's HELP and TYPE.
        for (const QByteArray &line : m.split('\n')) {
            if (line.isEmpty() || line.startsWith('#')) continue;
            const QByteArray name = line.left(line.indexOf(line.contains('{') ? '{' : ' '));
            QVERIFY2(m.contains("# TYPE " + name + ' ') && m.contains("# HELP " + name + ' '), name);
        }
        QVERIFY2(m.contains("letreiro_sede_sitio_online{sitio=\"loja1\"} 1\n"), m);
        QVERIFY2(m.contains("letreiro_sede_sitio_online{sitio=\"a\\\"b\\\\c\"} 0\n"), m);
        QVERIFY2(m.contains("letreiro_sede_sitios{estado=\"nunca visto\"} 4\n"), m);
    }
};

QTEST_GUILESS_MAIN(TestSede)
#include "tst_sede.moc"
