// The service in-process, on a fake line and a virtual clock: each request
// its own result, the newest text for a panel taking the place of one that
// waits, a stop that answers everyone at once, state written off the
// answering thread with its failures shown, the health check, the
// agenda's minute in virtual time, and state files damaged or too big that
// never stop a start.
#include "fakeservice.h"
#include "metrics.h"
#include "prometheustext.h"
#include "panelsend.h"
#include "historystore.h"
#include "httpapi.h"
#include "linequeue.h"
#include "testfiles.h"
#include "rawhttp.h"
#include "userstore.h"

#include <QJsonDocument>
#include <QSemaphore>
#include <QThreadPool>

using End = SendEnd;

class TestService : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Panels on one line that answer differently: every request gets its
    // own outcome, whatever order they run in.
    void eachRequestHasItsOwnOutcome()
    {
        InProcessService s;
        QSignalSpy exchanged(s.service.get(), &LetreiroService::exchanged);
        s.port->answers.insert(2, QByteArray(1, char(frame::kNak)));
        std::optional<SendResult> a1, c1, a2, c2;
        s.text("entrada", "um", &a1);
        s.text("caixa", "dois", &c1);
        s.command("caixa", "para", &c2);
        s.command("entrada", "inicia", &a2);
        QTRY_VERIFY(a1 && c1 && a2 && c2);
        QVERIFY(a1->ok() && a2->ok());
        QVERIFY(!c1->ok() && !c2->ok());
        QCOMPARE(c1->end, End::Failed);
        QCOMPARE(c1->json().value("resultado").toString(), QString("falhou"));
        QCOMPARE(s.port->texts(), QStringList({"1:Lum", "2:Ldois", "2:P", "1:I"}));
        const QJsonArray history = s.service->historyJson();
        QCOMPARE(history.size(), 4);
        QCOMPARE(history[1].toObject().value("painel").toString(), QString("caixa"));
        QCOMPARE(history[1].toObject().value("ok").toBool(), false);
        QCOMPARE(history[3].toObject().value("ok").toBool(), true);
        // A failed text is not what the panel shows, a start keeps it, clearing empties it.
        QCOMPARE(exchanged.at(1).at(4).toString(), QString());
        QCOMPARE(exchanged.last().at(0).toString(), QString("entrada"));
        QCOMPARE(exchanged.last().at(4).toString(), QString("um"));
        std::optional<SendResult> cleared;
        s.command("entrada", "apaga", &cleared);
        QTRY_VERIFY(cleared);
        QCOMPARE(exchanged.last().at(4).toString(), QString());
        // The panels' last outcomes are their own too.
        const QJsonArray panels = s.service->panelsJson();
        QVERIFY(panels[0].toObject().value("ultimo").toObject().value("ok").toBool());
        QVERIFY(!panels[1].toObject().value("ultimo").toObject().value("ok").toBool());
        // With the reason for a failure only.
        QVERIFY(!panels[0].toObject().value("ultimo").toObject().contains("motivo"));
        QVERIFY(!panels[1].toObject().value("ultimo").toObject().value("motivo").toString().isEmpty());
        // And so Prometheus reads them: every sample under its family's HELP and TYPE.
        const QByteArray m = metrics::site(*s.service);
        QVERIFY2(samplesWithoutFamily(m).isEmpty(), samplesWithoutFamily(m).join(' ').constData());
        for (const char *sample : {"letreiro_paineis{resultado=\"enviado\"} 1\n",
                                   "letreiro_paineis{resultado=\"falhou\"} 1\n",
                                   "letreiro_envios_total{resultado=\"enviado\"} 3\n",
                                   "letreiro_envios_total{resultado=\"falhou\"} 2\n",
                                   "letreiro_linha_fila{linha=\"", "letreiro_mqtt_conectado{"})
            QVERIFY2(m.contains(sample), m.constData());
    }

    // A panel shows one message at a time: a text waiting is replaced by a
    // newer one for the same panel, but never jumps over a command.
    void theNewestTextWins()
    {
        InProcessService s;
        s.port->held = true;
        std::optional<SendResult> t[6], clear, other;
        s.text("entrada", "t0", &t[0]); // on the wire
        s.text("entrada", "t1", &t[1]);
        s.text("caixa", "outro", &other);
        s.text("entrada", "t2", &t[2]);
        s.command("entrada", "apaga", &clear);
        s.text("entrada", "t3", &t[3]);
        s.text("entrada", "t4", &t[4]);
        QVERIFY(t[1] && t[3]);
        QCOMPARE(t[1]->end, End::Replaced);
        QCOMPARE(t[3]->end, End::Replaced);
        QVERIFY(!t[2] && !t[4] && !clear && !other);
        QCOMPARE(panelsend::health(*s.service).status, 200);
        s.port->held = false;
        s.port->release();
        QTRY_VERIFY(t[4].has_value());
        QCOMPARE(s.port->texts(), QStringList({"1:Lt0", "1:Lt2", "2:Loutro", "1:A", "1:Lt4"}));
        QVERIFY(t[0]->ok() && t[2]->ok() && t[4]->ok() && clear->ok() && other->ok());
        int replaced = 0;
        for (const QJsonValue &v : s.service->historyJson())
            replaced += v["resultado"].toString() == "substituído";
        QCOMPARE(replaced, 2);
    }

    // However many texts come in, a line's queue holds one per panel, and
    // each request is answered.
    void aFloodOfTextsStaysBounded()
    {
        InProcessService s;
        s.port->held = true;
        QList<std::optional<SendResult>> results(2000);
        for (int i = 0; i < results.size(); ++i)
            s.text(i % 2 ? "caixa" : "entrada", QString("n%1").arg(i), &results[i]);
        QCOMPARE(s.service->stateJson().value("linhas")[0].toObject().value("fila").toInt(), 2);
        s.port->held = false;
        s.port->release();
        QTRY_VERIFY(results.last().has_value() && results[results.size() - 2].has_value());
        QVERIFY(std::all_of(results.cbegin(), results.cend(),
                            [](const auto &r) { return r.has_value(); }));
        // Each panel's last frame is its last text.
        QCOMPARE(s.port->texts(), QStringList({"1:Ln0", "2:Ln1999", "1:Ln1998"}));
    }

    // Commands wait up to the line's bound and the next is refused at once;
    // a text takes its panel's place whatever the commands hold; a frame
    // that leaves the wire makes room for exactly one more.
    void aFullLineAtItsEdge()
    {
        std::optional<SendResult> wire, text, more, beyond;
        QList<std::optional<SendResult>> waiting(LineQueue::kMaxWaiting + 1);
        InProcessService s; // after the results: its end answers who still waits
        s.port->held = true;
        s.command("entrada", "para", &wire); // on the wire: it does not wait
        for (auto &r : waiting)
            s.command("caixa", "para", &r);
        QVERIFY(std::none_of(waiting.cbegin(), waiting.cend() - 1,
                             [](const auto &r) { return r.has_value(); }));
        QVERIFY(waiting.last() && waiting.last()->refusal == SendResult::Refusal::Full);
        QCOMPARE(waiting.last()->reason, QString("a fila da linha está cheia"));
        s.text("entrada", "cabe", &text);
        s.port->release();
        QTRY_VERIFY(wire.has_value());
        s.command("caixa", "inicia", &more);
        s.command("caixa", "inicia", &beyond);
        QVERIFY(!text && !more && beyond && beyond->refusal == SendResult::Refusal::Full);
    }

    // A stop: the frame on the wire ends whole, everyone waiting hears at
    // once, nothing new starts.
    void aStopAnswersEveryoneAtOnce()
    {
        InProcessService s;
        s.port->held = true;
        std::optional<SendResult> wire, a, b, after;
        s.text("entrada", "no fio", &wire);
        s.command("entrada", "para", &a);
        s.text("caixa", "espera", &b);
        QSignalSpy stopped(s.service.get(), &LetreiroService::stopped);
        s.service->stop();
        QVERIFY(a && b && !wire);
        QCOMPARE(a->end, End::Stopping);
        QCOMPARE(b->reason, QString("o serviço está parando"));
        // The frame on the wire waits for its own answer.
        QVERIFY(!s.port->finishing);
        QCOMPARE(stopped.size(), 0);
        s.text("caixa", "tarde", &after);
        QVERIFY(after && after->end == End::Stopping);
        s.port->release();
        QVERIFY(stopped.wait(5000));
        QVERIFY(wire && wire->ok());
        QCOMPARE(s.port->texts(), QStringList({"1:Lno fio"}));
        QCOMPARE(s.port->inHand(), 0);
        std::optional<HttpResponse> api;
        panelsend::sendToPanel(*s.service, "entrada", "texto", R"({"texto":"x"})", "ana",
                               [&api](const HttpResponse &a) { api = a; });
        QVERIFY(api && api->status == 503);
        QCOMPARE(QJsonDocument::fromJson(api->body)["motivo"].toString(),
                 QString("o serviço está parando"));
    }

    // A worker on one exchange beyond the longest possible is stuck; one
    // whose request waited past its deadline never runs.
    void stuckWorkersAndLateRequests()
    {
        InProcessService s;
        s.port->held = true;
        std::optional<SendResult> first, late;
        std::optional<HttpResponse> api;
        s.text("entrada", "longo", &first);
        s.send(SendRequest::Kind::Text, {"caixa"}, "tarde", &late, s.clock.monotonicMs() + 1000);
        panelsend::sendToPanel(*s.service, "entrada", "comando", R"({"comando":"apaga"})", "ana",
                               [&api](const HttpResponse &a) { api = a; });
        s.clock.advance(LineQueue::kLongestExchangeMs - 1);
        QCOMPARE(panelsend::health(*s.service).status, 200);
        s.clock.advance(2);
        QCOMPARE(panelsend::health(*s.service).status, 503);
        QVERIFY(s.service->stateJson().value("linhas")[0].toObject().value("ocupada").toBool());
        s.clock.advance(panelsend::kWaitForLineMs);
        // Each deadline comes on the clock, the frame still on the wire.
        QVERIFY(late.has_value() && api.has_value());
        QCOMPARE(late->end, End::Expired);
        QCOMPARE(api->status, 504);
        s.port->release();
        QTRY_COMPARE(panelsend::health(*s.service).status, 200);
        QCOMPARE(s.port->frames.size(), 1);
    }

    // The history and the agenda's state are written off this thread;
    // a file that cannot be written is said in the log and in `avisos`,
    // and what was written before stays whole.
    void aFailedWriteIsShown()
    {
        InProcessService s({}, false, {}, "historico = arquivo/historico.json\n");
        writeFile(s.dir.filePath("arquivo"), "não é uma pasta");
        s.restart(); // the agenda's own note, were there one, would be one more warning
        LetreiroService &service = *s.service;
        std::optional<SendResult> r;
        s.text("caixa", "oi", &r);
        QTRY_VERIFY(r.has_value());
        service.flush();
        // The history and the agenda's state beside it.
        QTRY_COMPARE(service.warnings().size(), 2);
        const QString said = service.warnings().filter("historico.json").value(0);
        QVERIFY2(said.startsWith("não foi possível gravar " + s.dir.path()) &&
                     said.endsWith("historico.json: a pasta não existe"),
                 qPrintable(service.warnings().join('\n')));
        QCOMPARE(service.stateJson().value("avisos").toArray().size(), 2);
        // Mended: the next write clears it.
        QFile::remove(s.dir.filePath("arquivo"));
        QDir(s.dir.path()).mkdir("arquivo");
        service.send({SendRequest::Kind::Command, {"caixa"}, "para", {}, "teste"}, {});
        s.clock.advance(60000); // the agenda's next minute
        QTRY_VERIFY(service.warnings().isEmpty());
        service.flush();
        const QString history = s.dir.filePath("arquivo/historico.json");
        const QByteArray whole = contents(history);
        QVERIFY(whole.contains("\"o_que\":\"para\""));
        // A disk that refuses the write: the file keeps its last whole
        // version, and it is said.
        {
            FileSizeLimit refused(16);
            service.send({SendRequest::Kind::Command, {"caixa"}, "inicia", {}, "teste"}, {});
            QTRY_COMPARE(service.warnings().filter("historico.json: o arquivo passa do tamanho").size(), 1);
            service.flush();
        }
        QCOMPARE(contents(history), whole);
    }

    // The agenda's minute is the injected clock's: no real time passes. It
    // looks a quarter second after the minute turns (started at 09:00:30).
    void theAgendaRunsOnVirtualTime()
    {
        InProcessService s("[agenda abre]\nquando = 09:02\npaineis = caixa\ntexto = Aberto\n");
        s.clock.advance(90249);
        QCoreApplication::processEvents();
        QCOMPARE(s.port->frames.size() + s.port->inHand(), 0);
        s.clock.advance(1);
        QTRY_COMPARE(s.port->texts(), QStringList({"2:LAberto"}));
        QTRY_COMPARE(s.service->historyJson().last()["quem"].toString(), QString("agenda abre"));
        // In the words every door uses.
        QCOMPARE(s.service->historyJson().last()["resultado"].toString(), QString("enviado"));
        s.service->flush();
        QVERIFY(contents(s.service->config().scheduleStateFile).contains("09:02"));
        // The clock set back further than the agenda waits out: it says so
        // as itself, and starts again from there.
        s.clock.wall = s.clock.wall.addSecs(-4 * 3600);
        s.clock.advance(60000);
        QTRY_COMPARE(s.service->historyJson().last()["quem"].toString(), QString("agenda"));
        QVERIFY(QJsonDocument(s.service->historyJson().last().toObject()).toJson().contains(
            "o relógio voltou"));

        // A stopping service runs nothing more from its agenda, nor counts the
        // minutes it did not run as covered (the next start owes their clock syncs).
        InProcessService stopping(
            "[agenda abre]\nquando = 09:02\npaineis = caixa\ntexto = Aberto\n");
        stopping.service->stop();
        stopping.clock.advance(120000);
        QCoreApplication::processEvents();
        stopping.service->flush();
        QVERIFY(stopping.port->frames.isEmpty());
        QVERIFY(!contents(stopping.service->config().scheduleStateFile).contains("09:02"));

        // What never reached a line (a message not in the library) is in
        // the history all the same.
        InProcessService missing("[agenda falta]\nquando = 09:02\npaineis = caixa\nmensagem = falta.msg\n");
        missing.clock.advance(90250);
        QTRY_COMPARE(missing.service->historyJson().size(), 1);
        QCOMPARE(missing.service->historyJson().last()["quem"].toString(), QString("agenda falta"));
    }

    // Previews in hand at once: the pool's threads and four waiting; one
    // more is refused at once (503), whatever order they come in.
    void previewsInHandAtTheirBound()
    {
        InProcessService s;
        UserStore users(s.dir.filePath("usuarios.json"));
        QString why;
        QVERIFY(users.setPassword("ana", "segredo123", &why));
        const QByteArray token = users.newToken("ana", &why).toUtf8();
        QThreadPool login, preview, library;
        preview.setMaxThreadCount(1);
        QSemaphore hold;
        preview.start([&hold] { hold.acquire(); }); // its one thread busy until released
        HttpApi api(*s.service, users, {&login, &preview, &library});
        const auto released = qScopeGuard([&hold] { hold.release(); }); // before the API waits
        const Result<quint16> port = api.listen("127.0.0.1", 0);
        QVERIFY(port);
        const QByteArray ask = "GET /api/previa?texto=a&largura=12 HTTP/1.1\r\nHost: 127.0.0.1:" +
                               QByteArray::number(*port) + "\r\nAuthorization: Bearer " + token +
                               "\r\n\r\n";
        std::vector<std::unique_ptr<RawClient>> clients;
        for (int i = 0; i < 6; ++i) {
            clients.push_back(std::make_unique<RawClient>(*port));
            QVERIFY(clients.back()->send(ask));
        }
        QList<int> statuses;
        const auto collect = [&] {
            for (auto &c : clients) {
                pollfd ready{c->fd, POLLIN, 0};
                if (c->fd >= 0 && ::poll(&ready, 1, 0) > 0) {
                    statuses.append(RawClient::status(c->response()));
                    ::close(std::exchange(c->fd, -1));
                }
            }
            return statuses.size();
        };
        QTRY_COMPARE(collect(), 1);
        hold.release();
        QTRY_COMPARE(collect(), 6);
        QCOMPARE(statuses.count(503), 1);
        QCOMPARE(statuses.count(200), 5);
        api.stop();
    }

    // A history in the older form (one line) loads whole; one damaged in
    // the middle or cut at the end, in either form, gives back every record
    // that reads, in order, and the log and `avisos` say so.
    void aDamagedHistoryKeepsWhatReads()
    {
        InProcessService s;
        const QString path = s.service->config().historyFile;
        QJsonArray older;
        for (const char *what : {"v0", "v1", "v2"})
            older.append(QJsonObject{{"quem", "ana"}, {"o_que", what}, {"ok", true}});
        const QByteArray compact = QJsonDocument(older).toJson(QJsonDocument::Compact);
        writeFile(path, compact.chopped(10));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("histórico .*1 trechos danificados"));
        s.restart();
        QCOMPARE(s.service->historyJson().size(), 2);
        writeFile(path, compact);
        s.restart();
        QCOMPARE(s.service->historyJson().size(), 3);
        QVERIFY(s.service->warnings().isEmpty());
        for (int i = 0; i < 5; ++i) {
            std::optional<SendResult> r;
            s.text("caixa", QString("t%1").arg(i), &r);
            QTRY_VERIFY(r.has_value());
        }
        s.service->flush();
        QList<QByteArray> lines = contents(path).split('\n');
        QCOMPARE(lines.size(), 11); // "[", 8 records, "]", ""
        lines.insert(4, "{\"quando\":\"2026-03-02T09:00:30-03:00\",\"qu\x01");
        lines = lines.mid(0, 9) + QList<QByteArray>{lines[9].left(30)}; // t4 cut halfway
        writeFile(path, lines.join('\n'));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("histórico .*2 trechos danificados"));
        s.restart();
        QStringList kept;
        for (const QJsonValue &v : s.service->historyJson())
            kept.append(v.toObject().value("o_que").toString());
        QCOMPARE(kept, QStringList({"v0", "v1", "v2", "t0", "t1", "t2", "t3"}));
        QVERIFY(s.service->warnings().value(0).contains("recuperadas as 7 entradas"));
    }

    // The history's bounds at their edges: its count, a record's text (cut
    // with "…"), and its file's bytes (a file of exactly the bound is kept).
    void theHistoryAtItsEdges_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("chars");
        QTest::addColumn<int>("shortBy"); // the bound, this far below the whole file; -1: none
        QTest::addColumn<int>("kept");
        QTest::addColumn<bool>("cut");
        constexpr int count = HistoryStore::kKept, text = HistoryStore::kMaxTextChars;
        QTest::newRow("count") << count << 1 << -1 << count << false;
        QTest::newRow("count + 1") << count + 1 << 1 << -1 << count << false;
        QTest::newRow("text") << 1 << text << -1 << 1 << false;
        QTest::newRow("text + 1") << 1 << text + 1 << -1 << 1 << true;
        QTest::newRow("bytes") << 3 << 100 << 0 << 3 << false;
        QTest::newRow("bytes - 1") << 3 << 100 << 1 << 2 << false;
    }
    void theHistoryAtItsEdges()
    {
        QFETCH(int, records);
        QFETCH(int, chars);
        QFETCH(int, shortBy);
        QFETCH(int, kept);
        QFETCH(bool, cut);
        QTemporaryDir dir;
        StateWriter writer;
        const auto fill = [&](const QString &path, qint64 bound) {
            HistoryStore h(path, writer, bound);
            for (int i = 0; i < records; ++i)
                h.add({QDateTime(QDate(2026, 3, 2), QTime(9, 0)), "ana", "p",
                       QString::number(i % 10) + QString(chars - 1, u'x'), "enviado", {}, true});
            writer.flush();
            return h.json();
        };
        const QString path = dir.filePath("historico.json");
        fill(dir.filePath("inteiro.json"), HistoryStore::kMaxBytes);
        const qint64 whole = QFileInfo(dir.filePath("inteiro.json")).size();
        const qint64 bound = shortBy < 0 ? HistoryStore::kMaxBytes : whole - shortBy;
        const QJsonArray json = fill(path, bound);
        QCOMPARE(json.size(), kept);
        QCOMPARE(json[0]["o_que"].toString().left(1), QString::number((records - kept) % 10));
        const QString last = json.last()["o_que"].toString();
        QCOMPARE(last.size(), std::min(chars, HistoryStore::kMaxTextChars));
        QCOMPARE(last.endsWith(u'…'), cut);
        QVERIFY(QFileInfo(path).size() <= bound);
        HistoryStore again(path, writer, bound); // and read back within the same bounds
        QVERIFY(again.load().isEmpty());
        QCOMPARE(again.json(), json);
        // The whole file, read within the bound, keeps the same newest records.
        HistoryStore fromWhole(dir.filePath("inteiro.json"), writer, bound);
        fromWhole.load();
        QCOMPARE(fromWhole.json(), json);
    }

    // A file of an older version far beyond the bytes (one line) gives its
    // newest records and says so; the next write is within the bound. (The
    // bound at its edge is theHistoryAtItsEdges.)
    void anOlderHistoryFarBeyondItsBytes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("historico.json");
        constexpr qint64 bound = 128 * 1024;
        const QDateTime when(QDate(2026, 3, 2), QTime(9, 0));
        QJsonArray big;
        for (int i = 0; i < 400; ++i)
            big.append(QJsonObject{{"o_que", QString("%1 ").arg(i) + QString(1000, 'x')}});
        big.append(QJsonObject{{"o_que", "último"}});
        writeFile(path, QJsonDocument(big).toJson(QJsonDocument::Compact));
        StateWriter writer;
        HistoryStore h(path, writer, bound);
        const QString note = h.load();
        QVERIFY2(note.contains("grande demais"), qPrintable(note));
        const QJsonArray kept = h.json();
        QVERIFY(kept.size() > 100);
        QCOMPARE(kept.last()["o_que"].toString(), QString("último"));
        QVERIFY(kept[kept.size() - 2]["o_que"].toString().startsWith("399 "));
        QVERIFY(kept[0]["o_que"].toString().startsWith(QString("%1 ").arg(400 - kept.size() + 1)));
        h.add({when, "ana", "p", "mais um", "enviado", {}, true});
        writer.flush();
        QVERIFY(QFileInfo(path).size() <= bound);
        // Up to twice the bound is read whole; a byte more, only its end.
        QJsonArray few;
        for (int i = 0; i < 100; ++i)
            few.append(QJsonObject{{"o_que", QString(1000, 'y')}});
        const QByteArray json = QJsonDocument(few).toJson(QJsonDocument::Compact).chopped(1);
        for (const qint64 extra : {0, 1}) {
            writeFile(path, json + QByteArray(2 * bound + extra - json.size() - 1, ' ') + ']');
            HistoryStore again(path, writer, bound);
            QCOMPARE(again.load().contains("lido só o fim"), extra == 1);
        }
        // What is read but falls out gives no panel its last outcome.
        few.prepend(QJsonObject{{"o_que", "antes"}, {"painel", "velho"}});
        for (int i = 0; i < 100; ++i)
            few.append(QJsonObject{{"o_que", QString(1000, 'z')}});
        writeFile(path, QJsonDocument(few).toJson(QJsonDocument::Compact));
        HistoryStore read(path, writer, bound);
        read.load();
        QVERIFY(!read.last("velho"));
    }

    // An agenda file that cannot be read never stops a start: it is moved
    // aside (over an older one), the configuration's entries run, and the
    // log and `avisos` say so.
    void anUnreadableAgendaIsSetAside()
    {
        InProcessService s("[agenda abre]\nquando = 09:02\npaineis = caixa\ntexto = Aberto\n");
        const QString path = s.service->config().scheduleFile;
        for (const QByteArray &bad : {QByteArray("[agenda x]\nquando = nunca\n"),
                                      QByteArray(ServerConfig::kMaxScheduleBytes + 1, ';')}) {
            writeFile(path, bad);
            writeFile(path + ".invalida", "antiga");
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("agenda .* movida para "));
            s.restart();
            QVERIFY(!QFile::exists(path));
            QCOMPARE(contents(path + ".invalida"), bad);
            const QJsonArray warnings = s.service->stateJson().value("avisos").toArray();
            QCOMPARE(warnings.size(), 1);
            QVERIFY2(warnings[0].toString().contains("movida para " + path + ".invalida"),
                     qPrintable(warnings[0].toString()));
            QCOMPARE(s.service->scheduleJson().size(), 1);
        }
        s.clock.advance(120000);
        QTRY_COMPARE(s.port->texts(), QStringList({"2:LAberto"}));
    }

    // A message's name is a plain file name: "/" or ".." never reaches
    // the library, though the file is there.
    void messageNamesAreNeverPaths()
    {
        InProcessService s;
        writeFile(s.dir.filePath("segredo.msg"), "{\\rtf1 Segredo}");
        QDir(s.dir.path()).mkdir("mensagens");
        writeFile(s.dir.filePath("mensagens/boa.msg"), "{\\rtf1 Boa}");
        for (const char *name : {"../segredo.msg", "/etc/../segredo.msg", "..", "a/../boa.msg"}) {
            std::optional<HttpResponse> a;
            panelsend::sendToPanel(*s.service, "entrada", "mensagem",
                                   QJsonDocument(QJsonObject{{"arquivo", name}}).toJson(), "ana",
                                   [&a](const HttpResponse &x) { a = x; });
            QVERIFY(a.has_value());
            QCOMPARE(a->status, 400);
            ScheduleEntry e;
            QString why;
            QVERIFY(!e.set("mensagem", name, &why));
        }
        std::optional<SendResult> refused;
        s.send(SendRequest::Kind::Message, {"caixa"}, "../segredo.msg", &refused);
        QVERIFY(refused && refused->refusal == SendResult::Refusal::Invalid);
        std::optional<HttpResponse> good;
        panelsend::sendToPanel(*s.service, "entrada", "mensagem", R"({"arquivo":"boa.msg"})", "ana",
                               [&good](const HttpResponse &x) { good = x; });
        QTRY_VERIFY(good.has_value());
        QCOMPARE(good->status, 200);
        QCOMPARE(s.port->texts(), QStringList({"1:LBoa"}));
    }
};

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
