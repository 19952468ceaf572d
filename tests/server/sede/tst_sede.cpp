// The head office in-process, on virtual time: what the sites publish
// becomes their states (each at its edge), a send's rows follow the answers
// and their deadline, who may read and send is decided by the API, and the
// audit outlives a restart.
#include "fakeservice.h"
#include "headoffice.h"
#include "mqtt/fakemqttlink.h"
#include "prometheustext.h"
#include "statewriter.h"
#include "testfiles.h"
#include "userstore.h"

#include <mutex>

using namespace Qt::StringLiterals;

// The broker as the head office sees it: what it asked and whom.
class SedeLink : public FakeMqttLink
{
public:
    QList<Request> requests;
    void request(const Request &r) override { requests.append(r); }
    void answer(const Request &r, const QByteArray &result, const QString &reason = {})
    {
        QJsonObject o{{u"resultado"_s, QString::fromUtf8(result)}};
        if (!reason.isEmpty()) o.insert(u"motivo"_s, reason);
        deliver(r.responseTopic, QJsonDocument(o).toJson(), false, {}, r.correlation);
    }
};

struct Office {
    QTemporaryDir dir;
    VirtualClock clock;
    StateWriter writer;
    UserStore users{dir.filePath(u"usuarios.json"_s)};
    SedeLink *link = nullptr;
    std::unique_ptr<HeadOffice> office;

    Office()
    {
        QString why;
        for (const QString &user : {u"chefe"_s, u"ana"_s, u"leo"_s})
            users.setPassword(user, u"x"_s, &why);
        users.setAccess(u"ana"_s, {{u"norte"_s}, false}, &why);
        users.setAccess(u"leo"_s, {{}, true}, &why);
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
        link->deliver(topic, payload, retained);
        QCoreApplication::processEvents();
    }
    void site(const QString &name, const QStringList &panels)
    {
        QJsonArray list;
        for (const QString &p : panels)
            list.append(QJsonObject{{u"painel"_s, p}, {u"tipo"_s, 0}});
        hear(u"letreiro/%1/estado"_s.arg(name), "online");
        hear(u"letreiro/%1/paineis"_s.arg(name), QJsonDocument(QJsonObject{{u"paineis"_s, list}}).toJson());
    }
    QPair<int, QJsonDocument> call(const QByteArray &method, const QString &path,
                                   const QJsonObject &body = {}, const QString &user = u"chefe"_s)
    {
        const HttpRequest req{method, "/api/sede/" + path.toUtf8(), {}, QJsonDocument(body).toJson(), {}};
        QPair<int, QJsonDocument> out{0, {}};
        office->route(req, path.section(u'?', 0, 0).split(u'/'), user, [&](HttpResponse r) {
            out = {r.status, QJsonDocument::fromJson(r.body)};
        });
        return out;
    }
    QJsonObject siteJson(const QString &name) { return call("GET", u"sitios/"_s + name).second.object(); }
};

static QMap<QString, QString> rows(const QJsonObject &send)
{
    QMap<QString, QString> out;
    for (const QJsonValue &v : send.value(u"linhas"_s).toArray()) {
        const QJsonObject r = v.toObject();
        out.insert(r[u"sitio"_s].toString() + u'/' + r[u"painel"_s].toString(), r[u"resultado"_s].toString() +
                       (r.contains(u"motivo"_s) ? u' ' + r[u"motivo"_s].toString() : QString()));
    }
    return out;
}

class TestSede : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qputenv("TZ", "UTC"); }

    void sitesAtTheirEdges()
    {
        Office o;
        QCOMPARE(o.siteJson(u"loja9"_s)[u"estado"_s].toString(), u"nunca visto"_s);
        // The head office's own link, refused: the hint names its section.
        o.link->lost({0x87, {}, 1000});
        QCoreApplication::processEvents();
        const QJsonValue link = o.call("GET", u"sitios"_s).second[u"mqtt"_s];
        QCOMPARE(link[u"estado"_s].toString(), u"reconectando"_s);
        QCOMPARE(link[u"motivo"_s].toString(),
                 u"o broker não aceita clientes sem usuário (usuario e senha em [sede]) (0x87)"_s);
        o.link->connected(false);
        QCoreApplication::processEvents();
        o.site(u"loja1"_s, {u"entrada"_s});
        const auto state = [&] { return o.siteJson(u"loja1"_s)[u"estado"_s].toString(); };
        QCOMPARE(state(), u"online"_s);
        o.clock.advance(180 * 1000); // silent exactly as long as allowed
        QCOMPARE(state(), u"online"_s);
        o.clock.advance(1);
        QCOMPARE(state(), u"desatualizado"_s);
        o.hear(u"letreiro/loja1/paineis"_s, R"({"paineis":[{"painel":"entrada"}]})");
        QCOMPARE(state(), u"online"_s);
        // Its will: offline since the moment it came, and listed first.
        o.clock.advance(60 * 1000);
        o.hear(u"letreiro/loja1/estado"_s, "offline");
        QCOMPARE(o.siteJson(u"loja1"_s)[u"desde"_s].toString(), isoWithOffset(o.clock.now()));
        const QJsonValue first = o.call("GET", u"sitios"_s).second[u"sitios"_s][0];
        QCOMPARE(first[u"sitio"_s].toString(), u"loja1"_s);
        QCOMPARE(first[u"paineis"_s].toInt(), 1); // counted in the list, not listed
        // Retained from before the head office listened: since the site's last word.
        o.hear(u"letreiro/loja2/paineis"_s, R"({"quando":"2026-03-02T08:00:00Z","paineis":[]})", true);
        o.hear(u"letreiro/loja2/estado"_s, "offline", true);
        QCOMPARE(o.siteJson(u"loja2"_s)[u"desde"_s].toString(), u"2026-03-02T08:00:00Z"_s);
        o.hear(u"letreiro/loja3/estado"_s, "sem leitura");
        QCOMPARE(o.siteJson(u"loja3"_s)[u"estado"_s].toString(), u"sem leitura"_s);
        // A panel's state: its last result and text, for the preview.
        o.hear(u"letreiro/loja1/entrada/estado"_s, R"({"resultado":"falhou","motivo":"NAK","texto":"Oi"})");
        QCOMPARE(o.siteJson(u"loja1"_s)[u"pior"_s].toString(), u"falhou"_s);
        // Bounds against a broker anyone may write on.
        QJsonArray many;
        for (int i = 0; i <= Fleet::kMaxPanels; ++i)
            many.append(QJsonObject{{u"painel"_s, u"p%1"_s.arg(i)}});
        o.hear(u"letreiro/grande/paineis"_s, QJsonDocument(QJsonObject{{u"paineis"_s, many}}).toJson());
        QCOMPARE(o.siteJson(u"grande"_s)[u"paineis"_s].toArray().size(), Fleet::kMaxPanels);
        Fleet f({}, 1000);
        for (int i = 0; i < Fleet::kMaxSites; ++i)
            QVERIFY(f.take(u"letreiro/s%1/estado"_s.arg(i), "online", false, 0));
        QVERIFY(!f.take(u"letreiro/mais/estado"_s, "online", false, 0));
        QVERIFY(f.take(u"letreiro/s0/estado"_s, "offline", false, 0));
        QVERIFY(!f.take(u"letreiro/s0/entrada/texto"_s, "x", false, 0));
        QVERIFY(!f.take(u"letreiro/s0/estado"_s, "", true, 0)); // a record taken away
    }

    void aGroupSendRowByRow()
    {
        Office o;
        // Before a send, what the text becomes on each type of panel asked for.
        const auto types = o.call("POST", u"previa"_s,
                                  {{u"texto"_s, u"olá"_s}, {u"tipos"_s, QJsonArray{-1, 0, 8, 9}}});
        QCOMPARE(types.first, 200);
        QCOMPARE(types.second.object().keys(), QStringList({u"0"_s, u"8"_s}));
        QCOMPARE(types.second[u"8"_s][u"texto"_s].toString(), u"olá"_s);
        o.site(u"loja1"_s, {u"entrada"_s, u"caixa"_s});
        o.site(u"loja2"_s, {u"entrada"_s});
        o.site(u"loja3"_s, {u"entrada"_s});
        o.hear(u"letreiro/loja3/estado"_s, "offline");
        auto [status, sent] = o.call("POST", u"envios"_s, {{u"grupo"_s, u"sul"_s}, {u"texto"_s, u"Liquidação"_s}});
        QCOMPARE(status, 202);
        const QString id = sent[u"id"_s].toString();
        QCOMPARE(o.link->requests.size(), 4);
        const MqttLink::Request first = o.link->requests[0];
        QCOMPARE(first.topic, u"letreiro/loja1/entrada/texto"_s);
        QCOMPARE(first.payload, u"Liquidação"_s.toUtf8());
        QCOMPARE(first.responseTopic, u"letreiro-sede/sede/respostas"_s);
        QCOMPARE(first.expirySeconds, 600);
        QCOMPARE(rows(sent.object()).value(u"loja3/entrada"_s), u"aguardando aguardando o sítio (expira às 09:10)"_s);
        o.link->answer(o.link->requests[0], "enviado");
        o.link->acknowledged(o.link->requests[0].topic, 0);
        o.link->answer(o.link->requests[1], "enviado");
        o.link->answer(o.link->requests[2], "falhou", u"o painel recusou"_s);
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
        const auto now = [&] { return o.call("GET", u"envios/"_s + id).second.object(); };
        QCOMPARE(now()[u"resumo"_s].toString(), u"2 de 4 enviados, 1 falhou, 1 aguardando"_s);
        // Each answer is in the audit file at once, not at the send's end.
        o.writer.flush();
        QVERIFY(contents(o.dir.filePath(u"sede-envios.json"_s)).contains("o painel recusou"));
        // The deadline: the validity, and a minute for a frame still in hand.
        o.clock.advance(11 * 60 * 1000 - 1);
        QCOMPARE(rows(now()).value(u"loja3/entrada"_s).section(u' ', 0, 0), u"aguardando"_s);
        o.clock.advance(1000);
        QCOMPARE(rows(now()).value(u"loja3/entrada"_s), u"sem resposta o sítio não voltou até 09:10"_s);
        QCOMPARE(now()[u"resumo"_s].toString(), u"2 de 4 enviados, 1 falhou, 1 sem resposta"_s);
        QVERIFY(!now()[u"aberto"_s].toBool());
        o.writer.flush(); // and the audit says so too
        QVERIFY(contents(o.dir.filePath(u"sede-envios.json"_s)).contains("o sítio não voltou"));
        // Again, only where it did not arrive.
        auto [again, repeat] = o.call("POST", u"envios/%1/repetir"_s.arg(id));
        QCOMPARE(again, 202);
        QCOMPARE(rows(repeat.object()).keys(), (QStringList{u"loja2/entrada"_s, u"loja3/entrada"_s}));
        QCOMPARE(o.call("POST", u"envios"_s, {{u"comando"_s, u"pisca"_s}}).first, 400);
        for (const char *bad : {"a/b", "a+b", "a#b"})  // a topic's own marks name no panel
            QCOMPARE(o.call("POST", u"envios"_s, {{u"alvos"_s, QJsonArray{QJsonObject{{u"sitio"_s, u"loja1"_s}, {u"painel"_s, bad}}}}, {u"texto"_s, u"x"_s}}).first, 400);
        QCOMPARE(o.call("POST", u"envios"_s, {{u"texto"_s, QString()}}).first, 400);

        // The audit outlives a restart, and an answer still waited for counts.
        const MqttLink::Request asked = o.link->requests.last();
        o.writer.flush();
        o.start();
        QCOMPARE(o.office->note(), QString()); // read whole, its brackets too
        // Read back up to 8 MiB: blank lines before, its last record ends
        // there, what follows is never read.
        const QString audit = o.dir.filePath(u"sede-envios.json"_s);
        QByteArray kept = contents(audit);
        kept.insert(2, QByteArray((8 << 20) - kept.lastIndexOf('}') - 2, ' ') + '\n');
        writeFile(audit, kept + "lixo\n");
        o.start();
        QCOMPARE(o.office->note(), QString()); // nothing in it was unreadable
        const QJsonArray sends = o.call("GET", u"envios"_s).second.array();
        QVERIFY(sends.size() == 2 && !sends[0].toObject().contains(u"linhas"_s)); // rows: one by one
        o.link->answer(asked, "enviado"); // asked before the restart, answered after
        QCoreApplication::processEvents();
        const QString repeatedPath = u"envios/"_s + repeat[u"id"_s].toString();
        const auto repeated = [&] { return o.call("GET", repeatedPath).second.object(); };
        QCOMPARE(repeated()[u"resumo"_s].toString(), u"1 de 2 enviados, 1 aguardando"_s);
        // Still open, and its deadline still holds after the restart.
        QVERIFY(repeated()[u"aberto"_s].toBool());
        o.clock.advance(11 * 60 * 1000);
        QCOMPARE(repeated()[u"resumo"_s].toString(), u"1 de 2 enviados, 1 sem resposta"_s);
        QCOMPARE(rows(repeated()).value(u"loja2/entrada"_s), u"sem resposta o sítio não voltou até 09:21"_s);
    }

    void whoMayDoWhat()
    {
        Office o;
        o.site(u"loja1"_s, {u"entrada"_s});
        o.site(u"loja4"_s, {u"entrada"_s});
        const QString ana = u"ana"_s, leo = u"leo"_s;
        QCOMPARE(o.call("GET", u"sitios"_s, {}, ana).second[u"sitios"_s].toArray().size(), 1);
        QCOMPARE(o.call("GET", u"sitios/loja1"_s, {}, ana).first, 404);
        const QJsonObject text{{u"texto"_s, u"x"_s}};
        for (const QJsonObject &where : {QJsonObject{{u"sitios"_s, QJsonArray{u"loja1"_s}}},
              QJsonObject{{u"grupo"_s, u"sul"_s}},
              QJsonObject{{u"alvos"_s, QJsonArray{QJsonObject{{u"sitio"_s, u"loja1"_s},
                                                                          {u"painel"_s, u"entrada"_s}}}}}}) {
            QJsonObject body = where;
            body.insert(u"texto"_s, u"x"_s);
            QCOMPARE(o.call("POST", u"envios"_s, body, ana).first, 403);
        }
        QCOMPARE(o.link->requests.size(), 0);
        // Everything ana may reach: loja4 alone.
        QCOMPARE(o.call("POST", u"envios"_s, text, ana).first, 202);
        QCOMPARE(o.link->requests.size(), 1);
        QCOMPARE(o.link->requests[0].topic, u"letreiro/loja4/entrada/texto"_s);
        // The broker's ACL said no: no site will answer, and the row says why.
        o.link->acknowledged(o.link->requests[0].topic, 0x87);
        QCoreApplication::processEvents();
        const QJsonArray mine = o.call("GET", u"envios?linhas=1"_s, {}, ana).second.array();
        const QString row = rows(mine[0].toObject()).value(u"loja4/entrada"_s);
        QVERIFY2(row.startsWith(u"recusado o broker recusou a publicação: "_s), qPrintable(row));
        QCOMPARE(o.call("POST", u"envios"_s, text, leo).first, 403);
        // A site nobody named nor heard of is a typo; one heard without its
        // panels yet is said, not silently left out.
        QCOMPARE(o.call("POST", u"envios"_s, {{u"sitios"_s, QJsonArray{u"loja7"_s}}, {u"texto"_s, u"x"_s}}).first, 400);
        o.hear(u"letreiro/loja5/estado"_s, "online");
        const auto [partly, noted] = o.call("POST", u"envios"_s,
            {{u"sitios"_s, QJsonArray{u"loja4"_s, u"loja5"_s}}, {u"texto"_s, u"x"_s}});
        QCOMPARE(partly, 202);
        QCOMPARE(noted[u"avisos"_s][0].toString(), u"loja5: painéis ainda desconhecidos, nada enviado"_s);
        const QString id = o.call("POST", u"envios"_s, text).second[u"id"_s].toString();
        QCOMPARE(o.call("GET", u"envios/"_s + id, {}, ana).first, 404);
        // Hers, and the one whose every row is in her reach.
        QCOMPARE(o.call("GET", u"envios"_s, {}, ana).second.array().size(), 2);
    }

    void boundsOfSends()
    {
        // Previews in hand at once: the pool's two running and four waiting;
        // the next is told to come back.
        {
            Office o;
            o.site(u"loja1"_s, {u"entrada"_s});
            struct Said {
                std::mutex m;
                QList<int> statuses;
            };
            auto said = std::make_shared<Said>();
            const HttpRequest req{"GET", "/api/sede/previa?sitio=loja1&painel=entrada", {}, {}, {}};
            for (int i = 0; i < 7; ++i) // one turn of the loop: none given back yet
                o.office->route(req, {u"previa"_s}, u"chefe"_s, [said](HttpResponse r) {
                    std::lock_guard<std::mutex> lock(said->m);
                    said->statuses.append(r.status);
                });
            const auto count = [said](int status) {
                std::lock_guard<std::mutex> lock(said->m);
                return int(status ? said->statuses.count(status) : said->statuses.size());
            };
            QTRY_COMPARE(count(0), 7);
            QCOMPARE(count(503), 1);
            // Sends waiting for their answers, at their bound: the next is told to wait.
            const QJsonObject text{{u"texto"_s, u"x"_s}};
            for (int i = 0; i < FleetSends::kMaxOpen; ++i)
                QCOMPARE(o.call("POST", u"envios"_s, text).first, 202);
            const auto busy = o.call("POST", u"envios"_s, text);
            QCOMPARE(busy.first, 503);
            QVERIFY(busy.second[u"erro"_s].toString().contains(u"espere"_s));
        }
        QList<FleetSends::Target> targets(FleetSends::kMaxRows, {u"s"_s, u"p"_s, true});
        int published = 0;
        FleetSends sends(60000, [&](auto &&...) { ++published; }, [](const FleetSends::Send &) {});
        QString why;
        QVERIFY(sends.start(u"a"_s, u"texto"_s, u"x"_s,
                            targets + QList<FleetSends::Target>{targets[0]}, 0, &why).isEmpty());
        QVERIFY(!sends.start(u"a"_s, u"texto"_s, u"x"_s, targets, 0, &why).isEmpty());
        QCOMPARE(published, FleetSends::kMaxRows);
        sends.expire(120000);
        const auto one = [&] {
            return sends.start(u"a"_s, u"texto"_s, u"x"_s, {targets[0]}, 120000, &why);
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
        o.site(u"loja1"_s, {u"entrada"_s});
        o.hear(u"letreiro/a\"b\\c/estado"_s, "offline");
        const QByteArray m = o.office->metrics();
        // Every sample under its family's HELP and TYPE.
        QVERIFY2(samplesWithoutFamily(m).isEmpty(), samplesWithoutFamily(m).join(' ').constData());
        QVERIFY2(m.contains("letreiro_sede_sitio_online{sitio=\"loja1\"} 1\n"), m);
        QVERIFY2(m.contains("letreiro_sede_sitio_online{sitio=\"a\\\"b\\\\c\"} 0\n"), m);
        QVERIFY2(m.contains("letreiro_sede_sitios{estado=\"nunca visto\"} 4\n"), m);
    }
};

QTEST_GUILESS_MAIN(TestSede)
#include "tst_sede.moc"
