// The site's rules against a broker that is not its friend, in-process: a
// fake link says what the broker answers, a virtual clock moves the probe's
// deadline and a message's `validade`, and the log, `avisos` and the API's
// "mqtt" say what is wrong; a retained text waiting at a stop runs after it.
#include "fakemqttlink.h"
#include "fakeservice.h"
#include "mqttreasons.h"
#include "testfiles.h"

#include <QCryptographicHash>

#include <mosquitto.h>
#include <mqtt_protocol.h>

static QStringList *g_log = nullptr;

const QString kDeaf =
    "o broker não entrega ao serviço as mensagens do sítio (permissão de leitura?)";

// A service with the site "loja" on a fake broker, started.
struct Site {
    InProcessService s;
    FakeMqttLink *link = nullptr;
    std::unique_ptr<MqttBridge> mqtt;
    QStringList log;

    ServerConfig::Mqtt config;

    explicit Site(bool discovery = false, qint64 maxAgeSeconds = 0)
    {
        g_log = &log;
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &c, const QString &text) {
            if (g_log && qstrcmp(c.category, "letreiro.mqtt") == 0) g_log->append(text);
        });
        config.host = "falso";
        config.site = "loja";
        config.discovery = discovery;
        config.maxAgeSeconds = maxAgeSeconds;
        open();
    }
    // A bridge on a new link to the fake broker, started.
    void open() { mqtt = onFakeLink(config, *s.service, link); }
    ~Site()
    {
        mqtt.reset();
        qInstallMessageHandler(nullptr);
        g_log = nullptr;
    }
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    void connect()
    {
        link->connected(false);
        settle();
    }
    void lose(int reason, const QString &detail = {}, qint64 retryMs = 1000)
    {
        link->lost({reason, detail, retryMs});
        settle();
    }
    void probeReturns()
    {
        link->echo("letreiro/loja/sonda");
        settle();
    }
    QJsonObject state() const { return s.service->stateJson().value("mqtt").toObject(); }
    QStringList warnings() const { return s.service->warnings(); }
};

class TestMqttBridge : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Each trouble in words, in the API and `avisos`; logged once however
    // often the attempt fails, and again when it changes.
    void theLinkSaysWhatIsWrong_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("words");
        QTest::newRow("wrong password") << int(MQTT_RC_BAD_USERNAME_OR_PASSWORD) << "" << "recusado"
                                        << "usuário ou senha recusados pelo broker (0x86)";
        QTest::newRow("no user") << int(MQTT_RC_NOT_AUTHORIZED) << "" << "recusado"
            << "o broker não aceita clientes sem usuário (usuario e senha em [mqtt]) (0x87)";
        QTest::newRow("wrong CA") << int(MOSQ_ERR_TLS)
            << "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify failed"
            << "recusado" << "o certificado do broker não confere com tls_ca";
        QTest::newRow("no client certificate") << int(MOSQ_ERR_CONN_LOST)
            << "OpenSSL Error[0]: error:0A00045C:SSL routines::tlsv13 alert certificate required"
            << "recusado" << "o broker exige um certificado de cliente (tls_certificado e tls_chave)";
        QTest::newRow("client certificate refused") << int(MOSQ_ERR_TLS)
            << "OpenSSL Error[0]: error:0A000438:SSL routines::tlsv1 alert decrypt error"
            << "recusado" << "o broker recusou o certificado de cliente (tls_certificado)";
        QTest::newRow("not there") << int(MOSQ_ERR_ERRNO) << "Connection refused" << "reconectando"
                                   << "falso:1883 não responde: Connection refused";
        QTest::newRow("the least a refusal says") << int(MQTT_RC_UNSPECIFIED) << "" << "reconectando"
                                                  << "o broker recusou sem dizer por quê (0x80)";
        QTest::newRow("restarting") << int(MQTT_RC_SERVER_SHUTTING_DOWN) << "" << "reconectando"
                                    << "o broker está parando (0x8b)";
        QTest::newRow("taken over") << int(MQTT_RC_SESSION_TAKEN_OVER) << "" << "recusado"
                                    << "outro serviço está usando o sítio loja";
    }
    void theLinkSaysWhatIsWrong()
    {
        QFETCH(int, reason);
        QFETCH(QString, detail);
        QFETCH(QString, state);
        QFETCH(QString, words);
        Site site;
        QCOMPARE(site.state()["estado"].toString(), QString("reconectando"));
        QVERIFY(site.warnings().isEmpty()); // the first attempt is no trouble yet
        site.connect();
        QCOMPARE(site.state()["estado"].toString(), QString("conectado"));
        QVERIFY(site.state()["motivo"].isNull() && site.state()["proxima_tentativa"].isNull());
        const QDateTime lostAt = site.s.clock.wall;
        for (int i = 0; i < 3; ++i) {
            site.lose(reason, detail, 4000);
            site.s.clock.advance(4000);
        }
        QCOMPARE(site.log.filter(words).size(), 1);
        const QJsonObject s = site.state();
        QCOMPARE(s["estado"].toString(), state);
        QCOMPARE(s["motivo"].toString(), words);
        QCOMPARE(s["desde"].toString(), isoWithOffset(lostAt));
        QCOMPARE(s["proxima_tentativa"].toString(), isoWithOffset(lostAt.addMSecs(12000)));
        QCOMPARE(site.warnings(), QStringList{"MQTT: " + words});
        site.lose(MOSQ_ERR_ERRNO, "No route to host");
        QCOMPARE(site.log.filter("No route to host").size(), 1);
        site.connect();
        QVERIFY(site.warnings().isEmpty());
        site.lose(reason, detail); // after a connection, said again
        QCOMPARE(site.log.filter(words).size(), 2);
    }

    // "online" only once the broker delivered the probe; not within the
    // deadline: the site is said deaf, to the broker and in `avisos`, until
    // a probe comes back.
    void theProbeDecidesOnline()
    {
        Site site;
        site.connect();
        QCOMPARE(site.link->filters,
                 QStringList({"letreiro/loja/+/texto", "letreiro/loja/+/comando",
                              "letreiro/loja/sonda", "letreiro/loja/dono"}));
        site.s.clock.advance(MqttBridge::kProbeTimeoutMs - 1);
        QVERIFY(site.link->on("letreiro/loja/estado").isEmpty());
        QVERIFY(!site.warnings().contains(kDeaf));
        site.s.clock.advance(1);
        QCOMPARE(site.link->on("letreiro/loja/estado"), QList<QByteArray>{"sem leitura"});
        QVERIFY(site.warnings().contains(kDeaf));
        QCOMPARE(site.log.filter(kDeaf).size(), 1);
        // Late, or at the next connection: online again.
        site.lose(MOSQ_ERR_CONN_LOST);
        site.connect();
        site.s.clock.advance(MqttBridge::kProbeTimeoutMs - 1);
        site.probeReturns();
        QCOMPARE(site.link->on("letreiro/loja/estado").last(), QByteArray("online"));
        QVERIFY(!site.warnings().contains(kDeaf));
        site.s.clock.advance(MqttBridge::kProbeTimeoutMs);
        QCOMPARE(site.link->on("letreiro/loja/estado").last(), QByteArray("online"));
        // An earlier connection's probe, or another start's, proves nothing.
        site.connect();
        site.link->deliver("letreiro/loja/sonda", "outro");
        site.settle();
        site.s.clock.advance(MqttBridge::kProbeTimeoutMs);
        QVERIFY(site.warnings().contains(kDeaf));
    }

    // The site's panels again every minute while connected: the head
    // office tells a site that went quiet from one that is there.
    void thePanelsEveryMinute()
    {
        Site site;
        site.connect();
        const auto said = [&] { return site.link->on("letreiro/loja/paineis"); };
        const qsizetype before = said().size();
        site.s.clock.advance(MqttBridge::kPanelsEveryMs - 1);
        QCOMPARE(said().size(), before);
        site.s.clock.advance(1);
        QCOMPARE(said().size(), before + 1);
        const QJsonObject last = QJsonDocument::fromJson(said().last()).object();
        QCOMPARE(last.value("intervalo").toInt(), 60);
        QCOMPARE(last.value("paineis").toArray().size(), 2);
    }

    // Taken over only on evidence: its own owner record overwritten. A
    // record left by an earlier start, or a broker that forgot, is none.
    void anotherServiceOnlyWhenItOverwroteTheRecord()
    {
        Site site;
        site.connect();
        site.link->deliver("letreiro/loja/dono", "um-servico-de-antes", true);
        site.settle();
        site.probeReturns();
        QCOMPARE(site.link->on("letreiro/loja/dono").size(), 1);
        const QByteArray mine = site.link->on("letreiro/loja/dono").first();
        QVERIFY(mine != "um-servico-de-antes" && mine.size() == 64);
        site.link->echo("letreiro/loja/dono");
        // Broker restarts, twice: short connections are no evidence.
        for (bool forgot : {false, true}) {
            site.lose(MQTT_RC_SERVER_SHUTTING_DOWN);
            site.connect();
            if (!forgot) site.link->deliver("letreiro/loja/dono", mine, true);
            site.probeReturns();
            QCOMPARE(site.state()["estado"].toString(), QString("conectado"));
        }
        QCOMPARE(site.link->yielded, 0);
        QCOMPARE(site.log.filter("outro serviço").size(), 0);
        site.link->deliver("letreiro/loja/dono", "o-outro", true);
        site.settle();
        QCOMPARE(site.link->yielded, MqttClient::kTakenOverDelayS);
        QCOMPARE(site.state()["estado"].toString(), QString("recusado"));
        QCOMPARE(site.state()["motivo"].toString(), QString("outro serviço está usando o sítio loja"));
        QCOMPARE(site.log.filter("outro serviço").size(), 1);
        // A minute later it claims the site again: the other may be gone.
        site.connect();
        site.link->deliver("letreiro/loja/dono", "o-outro", true);
        site.settle();
        site.probeReturns();
        QCOMPARE(site.link->on("letreiro/loja/dono").last(), mine);
    }

    // Every refusal heard, once per topic and reason, in `avisos` while it
    // lasts; the discovery file holds only the configs the broker took.
    void refusalsAreHeard()
    {
        Site site(true);
        site.connect();
        QStringList configs;
        for (const auto &[t, p] : site.link->published)
            if (t.startsWith("homeassistant/")) configs.append(t);
        QCOMPARE(configs.size(), 12); // Home Assistant's ids: from the names and a hash of them
        const QByteArray hash =
            QCryptographicHash::hash("loja/entrada", QCryptographicHash::Sha256).toHex().left(8);
        QVERIFY(configs.contains("homeassistant/text/letreiro_loja_entrada_" + hash + "/config"));
        for (const QString &t : configs)
            site.link->acknowledged(t, t == configs.first() ? MQTT_RC_NOT_AUTHORIZED : 0);
        site.link->acknowledged("resposta/loja", MQTT_RC_NOT_AUTHORIZED);
        site.link->acknowledged("resposta/loja", MQTT_RC_NOT_AUTHORIZED);
        site.link->acknowledged("letreiro/loja/entrada/estado", MQTT_RC_QUOTA_EXCEEDED);
        for (int again = 0; again < 2; ++again) {
            site.link->subscribed("letreiro/loja/+/texto", MQTT_RC_NOT_AUTHORIZED);
            site.settle();
            QCOMPARE(site.log.filter("o broker recusou a assinatura de letreiro/loja/+/texto").size(), 1);
        }
        const QString answer = "o broker recusou a publicação em resposta/loja: sem permissão (0x87)";
        QCOMPARE(site.log.filter(answer).size(), 1);
        for (const QString &w :
             {answer, "o broker recusou a publicação em " + configs.first() + ": sem permissão (0x87)",
              QString("o broker recusou a publicação em letreiro/loja/entrada/estado: cota do "
                      "broker excedida (0x97)"),
              QString("o broker recusou a assinatura de letreiro/loja/+/texto: sem permissão (0x87)")})
            QVERIFY2(site.warnings().contains(w), qPrintable(site.warnings().join('\n') + "\n" + w));
        // With a user name, Mosquitto's 0x87 at the connection is the password's.
        QCOMPARE(mqttreasons::ofLoss(MQTT_RC_NOT_AUTHORIZED, {}, "h:1", true).words,
                 QString("usuário ou senha recusados pelo broker (0x87)"));
        // Every refusal a broker may give has Portuguese words of its own
        // (two filter codes share theirs); any other is only a code.
        QSet<QString> words;
        for (int code = 0x80; code <= 0xA3; ++code)
            words << mqttreasons::refusal(code).section(" (0x", 0, 0);
        QCOMPARE(words.size(), 0xA3 - 0x80);
        QVERIFY(words.contains("recusado pelo broker"));
        site.link->acknowledged("resposta/loja", MQTT_RC_NO_MATCHING_SUBSCRIBERS);
        site.settle();
        QVERIFY(!site.warnings().contains(answer));
        for (int i = 0; i < 25; ++i) // a bounded list however many topics are refused
            site.link->acknowledged(QString("resposta/%1").arg(i), MQTT_RC_NOT_AUTHORIZED);
        site.settle();
        QCOMPARE(site.warnings().filter("o broker recusou").size(), 20);
        site.s.service->flush();
        const QString file = QFileInfo(site.s.service->config().mqttJournalFile).absolutePath() + "/mqtt-descoberta.json";
        QJsonArray kept = QJsonDocument::fromJson(contents(file)).object()["topicos"].toArray();
        QCOMPARE(kept.size(), 11);
        QVERIFY(!kept.contains(configs.first()));
        // A config a start before announced, for a panel gone since, is taken
        // away with an empty retained payload; the others stay.
        kept.append("homeassistant/text/letreiro_loja_velho/config");
        writeFile(file, QJsonDocument(QJsonObject{{"topicos", kept}}).toJson());
        site.mqtt.reset();
        site.open();
        site.connect();
        QStringList emptied;
        for (const auto &[t, p] : site.link->published)
            if (p.isEmpty()) emptied.append(t);
        QCOMPARE(emptied, QStringList{"homeassistant/text/letreiro_loja_velho/config"});
        // Once the broker has taken the removal, it is not owed any more.
        site.link->acknowledged(emptied.first(), 0);
        site.settle();
        site.s.service->flush();
        QVERIFY(!contents(file).contains("letreiro_loja_velho"));
        QVERIFY(contents(file).contains("letreiro_loja_entrada"));
    }

    // An answer goes nowhere the service reads: there it would come back as
    // a text for a panel. The text itself still runs.
    void noAnswerWhereTheServiceReads_data()
    {
        QTest::addColumn<QString>("responseTopic");
        QTest::addColumn<bool>("answered");
        QTest::newRow("its own text topic") << "letreiro/loja/caixa/texto" << false;
        QTest::newRow("every panel's command") << "letreiro/loja/todos/comando" << false;
        QTest::newRow("its probe") << "letreiro/loja/sonda" << false;
        QTest::newRow("a filter") << "resposta/+" << false;
        QTest::newRow("elsewhere") << "resposta/loja" << true;
    }
    void noAnswerWhereTheServiceReads()
    {
        QFETCH(QString, responseTopic);
        QFETCH(bool, answered);
        Site site;
        site.connect();
        site.link->deliver("letreiro/loja/caixa/texto", "Oferta", false, responseTopic, "c");
        QTRY_COMPARE(site.s.port->texts(), QStringList{"2:LOferta"});
        site.settle();
        const auto sent = site.link->on(responseTopic);
        QCOMPARE(std::count_if(sent.cbegin(), sent.cend(),
                               [](const QByteArray &p) { return p.endsWith("#c"); }),
                 qsizetype(answered));
        QCOMPARE(site.log.filter("tópico de resposta recusado").size(), int(!answered));
        if (answered) // sent, and answered: nothing to say
            QVERIFY(site.log.filter("letreiro/loja/caixa/texto:").isEmpty());
    }

    // An answer still on its way to the broker when the service ends is
    // published again at the next start, and its text does not run again;
    // once the broker has it, it is over.
    void anAnswerOnItsWayOutlivesTheService()
    {
        Site site;
        site.connect();
        site.link->holdAnswers = true;
        site.link->deliver("letreiro/loja/caixa/texto", "Oferta", false, "resposta", "c");
        QTRY_COMPARE(site.link->answer("c").value("resultado").toString(), QString("enviado"));
        for (const bool again : {true, false}) {
            site.mqtt.reset();
            site.open();
            QCOMPARE(site.link->answer("c").value("resultado").toString(),
                     again ? QString("enviado") : QString());
            site.connect();
        }
        QCOMPARE(site.s.port->texts(), QStringList{"2:LOferta"});
    }

    // A retained text still waiting for its line at a stop runs after the
    // restart, though it is on record as applied (the record is written
    // before it runs), unless its `validade` ran out meanwhile; the broker
    // handing it again after the restart runs nothing twice.
    void aRetainedTextWaitingAtAStop_data()
    {
        QTest::addColumn<qint64>("maxAgeS");
        QTest::addColumn<qint64>("awayMs");
        QTest::addColumn<QStringList>("frames");
        const QStringList ran{"2:LBem-vindo", "2:Ldepois"}, expired{"2:Ldepois"};
        QTest::newRow("no validade") << qint64(0) << qint64(86400000) << ran;
        QTest::newRow("just before its validade") << qint64(60) << qint64(59999) << ran;
        QTest::newRow("at its validade") << qint64(60) << qint64(60000) << expired;
    }
    void aRetainedTextWaitingAtAStop()
    {
        QFETCH(qint64, maxAgeS);
        QFETCH(qint64, awayMs);
        QFETCH(QStringList, frames);
        Site site(false, maxAgeS);
        site.connect();
        site.s.port->held = true;
        std::optional<SendResult> wire;
        site.s.text("caixa", "no fio", &wire);
        site.link->deliver("letreiro/loja/caixa/texto", "Bem-vindo", true);
        site.settle();
        site.s.service->stop();
        site.s.port->release();
        QTRY_VERIFY(wire.has_value());
        site.mqtt.reset();
        site.s.service->flush();
        site.s.clock.advance(awayMs);
        site.s.restart();
        site.open();
        site.connect();
        site.link->deliver("letreiro/loja/caixa/texto", "Bem-vindo", true);
        site.link->deliver("letreiro/loja/caixa/texto", "depois");
        QTRY_COMPARE(site.s.port->texts(), frames);
    }

    // The same message (packet id and all) again in this session is a
    // delivery again; after a session the broker did not keep, it is new,
    // and the retained states are published again.
    void aMessageAgainRunsOnlyInANewSession()
    {
        Site site;
        site.connect();
        site.link->reuseId(7);
        site.link->deliver("letreiro/loja/caixa/texto", "um");
        QTRY_COMPARE(site.s.port->texts().size(), 1);
        const QString state = "letreiro/loja/caixa/estado";
        QTRY_COMPARE(site.link->on(state).size(), 1);
        for (const auto &[kept, frames] : {std::pair{true, 1}, {false, 2}}) {
            site.link->connected(kept);
            site.settle();
            // A broker that kept nothing lost the panels' retained states too.
            QCOMPARE(site.link->on(state).size(), frames);
            site.link->reuseId(7);
            site.link->deliver("letreiro/loja/caixa/texto", "um");
            site.settle();
            QTRY_COMPARE(site.s.port->texts().size(), frames);
            QTest::qWait(50);
            QCOMPARE(site.s.port->texts().size(), frames);
        }
    }

    // A journal that cannot be read is set aside, and the site stays off
    // the broker until someone looks: taking new texts would run some twice.
    void anUnreadableJournalKeepsTheSiteOff()
    {
        InProcessService s;
        const QString journal = s.service->config().mqttJournalFile;
        QDir().mkpath(journal); // a folder where the file should be: unreadable even for root
        writeFile(QFileInfo(journal).absolutePath() + "/mqtt-retidos.json", "{\"cortado");
        for (int start = 0; start < 3; ++start) {
            const bool looked = start == 2; // someone took the set-aside file away
            if (looked) QDir(journal + ".ilegivel").removeRecursively();
            ServerConfig::Mqtt config;
            config.host = "falso";
            config.site = "loja";
            FakeMqttLink *link = nullptr;
            const auto bridge = onFakeLink(config, *s.service, link);
            QCOMPARE(QFileInfo(journal + ".ilegivel").isDir(), !looked);
            QCOMPARE(bridge->linkJson()["estado"].toString(),
                     QString(looked ? "reconectando" : "desligado"));
            QCOMPARE(bridge->warnings().value(0).contains("até que alguém o examine"), !looked);
            bridge->stop();
            QCOMPARE(link->published.isEmpty(), !looked);
        }
        // The other state files: set aside, said, never written over.
        QVERIFY2(s.service->warnings().join('\n').contains(
                     "mqtt-retidos.json não pôde ser lido (conteúdo danificado): guardado como"),
                 qPrintable(s.service->warnings().join('\n')));
        QCOMPARE(contents(QFileInfo(journal).absolutePath() + "/mqtt-retidos.json.ilegivel"),
                 QByteArray("{\"cortado"));
    }
};

QTEST_GUILESS_MAIN(TestMqttBridge)
#include "tst_mqttbridge.moc"
