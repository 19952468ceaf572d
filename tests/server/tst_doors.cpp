// Every door speaks through one send path: the same input through the API,
// MQTT and the agenda gets the same result, reason and warnings, in-process
// on a fake line, a fake broker link and a virtual clock.
#include "fakeservice.h"
#include "mqtt/fakemqttlink.h"
#include "panelsend.h"

struct Doors {
    InProcessService s;
    FakeMqttLink *link = nullptr;
    std::unique_ptr<MqttBridge> mqtt;

    explicit Doors(bool strict, const QString &agenda = {}) : s(agenda)
    {
        ServerConfig::Mqtt config;
        config.host = "falso";
        config.site = "loja";
        config.strict = strict;
        mqtt = onFakeLink(config, *s.service, link);
    }

    QJsonObject viaApi(const QString &panel, const QString &kind, const QString &value, bool strict)
    {
        std::optional<HttpResponse> a;
        const QJsonObject body{{kind, value}, {"estrito", strict}};
        panelsend::sendToPanel(*s.service, panel, kind, QJsonDocument(body).toJson(), "ana",
                               [&a](const HttpResponse &r) { a = r; });
        [&] { QTRY_VERIFY(a.has_value()); }();
        return a ? QJsonDocument::fromJson(a->body).object() : QJsonObject();
    }

    QJsonObject viaMqtt(const QString &panel, const QString &kind, const QString &value,
                        const QByteArray &id)
    {
        link->deliver(QString("letreiro/loja/%1/%2").arg(panel, kind), value.toUtf8(), false,
                      "resposta", id);
        [&] { QTRY_VERIFY(!link->answer(id).isEmpty()); }();
        return link->answer(id);
    }
};

class TestDoors : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oneInputOneResultAtEveryDoor_data()
    {
        QTest::addColumn<QString>("panel");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("strict");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("reason");  // contained in "motivo"
        QTest::addColumn<QString>("warning"); // contained in the first of "avisos"
        const QString tooLong(8000, u'x');
        QTest::newRow("plain") << "entrada" << "texto" << "Oferta" << false << "enviado" << ""
                               << "";
        QTest::newRow("too long: cut and said")
            << "entrada" << "texto" << tooLong << false << "enviado" << "" << "texto longo demais";
        QTest::newRow("too long, strict")
            << "entrada" << "texto" << tooLong << true << "recusado" << "nada enviado"
            << "texto longo demais";
        QTest::newRow("a bell") << "entrada" << "texto" << "a\ab" << false << "enviado" << ""
            << "caracteres de controle, que o painel não mostra como escritos: U+0007";
        QTest::newRow("a bell, strict") << "entrada" << "texto" << "a\ab" << true << "recusado"
                                        << "nada enviado" << "U+0007";
        QTest::newRow("no place for it") << "entrada" << "texto" << "日本" << false << "enviado"
                                         << "" << "caracteres sem lugar no painel";
        QTest::newRow("empty") << "entrada" << "texto" << "" << false << "recusado"
                               << "texto vazio" << "";
        QTest::newRow("unknown panel") << "porta" << "texto" << "x" << false << "recusado"
                                       << "painel desconhecido: porta" << "";
        QTest::newRow("unknown command") << "caixa" << "comando" << "explode" << false
                                         << "recusado" << "comando desconhecido: explode" << "";
        QTest::newRow("the whole line's clock") << "caixa" << "comando" << "hora" << false
                                                << "enviado" << "" << "";
    }

    void oneInputOneResultAtEveryDoor()
    {
        QFETCH(QString, panel);
        QFETCH(QString, kind);
        QFETCH(QString, value);
        QFETCH(bool, strict);
        QFETCH(QString, result);
        QFETCH(QString, reason);
        QFETCH(QString, warning);
        Doors d(strict);
        QList<QJsonObject> answers{d.viaApi(panel, kind, value, strict),
                                   d.viaMqtt(panel, kind, value, "um")};
        for (const QJsonObject &a : answers) {
            QCOMPARE(a.value("resultado").toString(), result);
            QCOMPARE(a.value("ok").toBool(), result == "enviado");
            QVERIFY2(a.value("motivo").toString().contains(reason), qPrintable(a["motivo"].toString()));
            const QString first = a.value("avisos").toArray().first().toString();
            QVERIFY2(warning.isEmpty() ? first.isEmpty() : first.contains(warning), qPrintable(first));
        }
        QCOMPARE(answers[0].value("avisos"), answers[1].value("avisos"));
        QCOMPARE(answers[0].value("motivo"), answers[1].value("motivo"));
    }

    // A clock sync reaches every panel of its line: each one's state says so,
    // not only the one it was sent through.
    void aLineWideCommandUpdatesEveryPanelItReached()
    {
        Doors d(false);
        QCOMPARE(d.viaMqtt("caixa", "comando", "hora", "h")["resultado"].toString(), "enviado");
        QStringList states;
        for (const auto &[topic, payload] : d.link->published)
            if (topic.endsWith("/estado") && topic != "letreiro/loja/estado") states.append(topic);
        states.sort();
        QCOMPARE(states, QStringList({"letreiro/loja/caixa/estado", "letreiro/loja/entrada/estado"}));
        QCOMPARE(d.s.port->frames.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDoors)
#include "tst_doors.moc"
