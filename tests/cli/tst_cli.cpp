#include "messages.h"
#include "rtfreader.h"
#include "rtfwriter.h"
#include "testfiles.h"
#include "wiredecoder.h"

#include <QTemporaryDir>
#include <QtTest>

#include "clirunner.h"

using namespace Qt::StringLiterals;

class TestCli : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_message;

    QStringList send(const QString &command, const QString &device, const QStringList &more = {})
    {
        return QStringList{command, "--pasta", m_dir.path(), "--porta", device} + more;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_message = m_dir.filePath("mensagem.msg");
        writeFile(m_message,
                  writeRtf(Message().tag("<Neve_______>").text("Olá ").text("X", kRed, true)));
    }

    void transferIsAnsweredByThePanel()
    {
        Emulator panel;
        const Run r = cli(send("transfere", panel.device, {"--endereco", "1", m_message}));
        QCOMPARE(r.out, QString("Transmissão bem sucedida.\n"));
        QCOMPARE(r.status, 0);
        QCOMPARE(panel.nextFrame(), u"endereço 1, verificação certa: L<Neve_______>Olá [E]X"_s);
    }

    void aRefusalAndASilenceAreFailures()
    {
        Emulator nak({"--resposta", "nak"});
        Run r = cli(send("para", nak.device, {"--endereco", "1"}));
        QCOMPARE(r.out, QString("Falha na transmissão.\n"));
        QCOMPARE(r.status, 1);

        Emulator silent({"--resposta", "nenhuma"});
        r = cli(send("inicia", silent.device, {"--endereco", "1"}));
        QCOMPARE(r.out, QString("Falha na transmissão.\n"));
        QCOMPARE(r.status, 1);
        QCOMPARE(silent.nextFrame(), QString("endereço 1, verificação certa: I"));
        // A failure names the port it went to: the one of the settings may
        // not be the one the operator thinks of.
        QCOMPARE(
            r.err,
            QString("letreiro-cli inicia: o painel não respondeu (porta %1)\n").arg(silent.device));
    }

    void globalSendsAndTheClock()
    {
        Emulator panel;
        Run r = cli(send("transfere", panel.device, {"--endereco", "0", m_message}));
        QCOMPARE(r.out, QString("Transmissão global bem sucedida.\n"));
        QVERIFY(panel.nextFrame().startsWith("endereço 0, verificação certa: L<Neve"));
        r = cli(send("hora", panel.device));
        QCOMPARE(r.out, QString("Hora acertada.\n"));
        QVERIFY(panel.nextFrame().startsWith("endereço 0, verificação certa: R hora "));
        r = cli(send("data", panel.device));
        QCOMPARE(r.out, QString("Data acertada.\n"));
        QVERIFY(panel.nextFrame().contains("D data "));
        // As the emulator reads them back: BCD, and the weekday as a number.
        QCOMPARE(decodeWireData(QByteArray("D\x06\x12\x26\x02", 5)),
                 QString("D data 06/12/26 dia da semana 2"));
        QCOMPARE(decodeWireData("R\x09\x41\x07"), QString("R hora 09:41:07"));
    }

    void defaultsComeFromTheSettingsFolder()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("cobalto.cfg"), " 1\r\n 3\r\n 0\r\n 3\r\n 0\r\n");
        const Run r = cli({"inicia", "--pasta", dir.path(), "--mostrar"});
        QCOMPARE(r.out, QString("dados: 49\nquadro: 81 7E 05 00 03 00 FF FF 49 4A\n"));
        // Options win over the files, which the tool never creates.
        const Run t = cli({"transfere", "--pasta", dir.path(), "--mostrar", "--tipo", "3",
                           "--endereco", "2", m_message});
        QCOMPARE(t.out.section('\n', 0, 0),
                 QString("dados: 4C 3C 4E 65 76 65 5F 5F 5F 5F 5F 5F 5F 3E 4F 6C E1 20 FE 58"));
        QVERIFY(t.out.section('\n', 1, 1)
                    .startsWith("quadro: 81 7E 0D 00 02 00 FF FF 4C CF 4F 6C 02 20 FE 20 58"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"cobalto.cfg"});
    }

    // After a prefix effect, once the panel's width of characters has gone,
    // the frame carries one space more ("Promoç ão" on the 6-character
    // panel). `codifica` must show the very bytes the frame carries, so that
    // what the emulator prints can be checked against it.
    void encodingIsTheFramesData_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no prefix effect") << u"Promoção"_s << u"LPromoção"_s;
        QTest::newRow("the space after six")
            << u"<Neve_______>Promoção"_s << u"L<Neve_______>Promoç ão"_s;
        QTest::newRow("line ends do not count")
            << u"<Neve_______>Pro\nmo\tção"_s << u"L<Neve_______>Promoç ão"_s;
        QTest::newRow("a pause stops the count") << u"<Roda_Cima__>AÇÃO<Pausa______>éêíóôõ"_s
                                                 << u"L<Roda_Cima__>AçãO<Pausa______>éêíóôõ"_s;
        QTest::newRow("capitals and a second count")
            << u"<Neve_______>ÁÉÍÓÚÇ<Onda_______>ãõâêôàñ"_s
            << u"L<Neve_______>áéíóúç <Onda_______>ãõâêôà ñ"_s;
    }

    void encodingIsTheFramesData()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        const Run encoded = cli({"codifica", "--tipo", "5", text});
        QCOMPARE(encoded.status, 0);
        const QByteArray data = "L" + QByteArray::fromHex(encoded.out.toLatin1());
        const QStringList show{"transfere",  "--pasta", m_dir.path(), "--tipo", "5",
                               "--endereco", "1",       "--texto",    text};
        const QString frameLine = cli(show + QStringList{"--mostrar"}).out.section('\n', 1, 1);
        const QByteArray frame = QByteArray::fromHex(frameLine.section(": ", 1).toLatin1());
        QCOMPARE(frame.mid(8, frame.size() - 9), data);
        QCOMPARE(decodeWireData(data), shown);
        Emulator panel;
        QCOMPARE(cli(show + QStringList{"--porta", panel.device}).status, 0);
        QCOMPARE(panel.nextFrame(), "endereço 1, verificação certa: " + shown);
        QCOMPARE(cli({"codifica", "--tipo", "5", "-"}, text.toUtf8() + "\n").out, encoded.out);
    }

    void encodeAndFrame()
    {
        QCOMPARE(cli({"codifica", "--tipo", "0", "<Neve_______>ABCDEFGHIJKLMN"}).out,
                 QString("CF 41 42 43 44 45 46 47 48 49 4A 4B 4C 20 4D 4E\n"));
        QCOMPARE(cli({"codifica", "ação"}).out, QString("61 0C 04 6F\n"));
        QCOMPARE(cli({"quadro", "--endereco", "1", "A"}).out, u"81 7E 05 00 01 00 FF FF 41 40\n"_s);
    }

    void helpIsAskedTheSameEverywhere_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("synopsis");
        for (const char *flag : {"-h", "--help", "--ajuda"}) {
            QTest::addRow("program %s", flag) << QStringList{flag} << "Uso: letreiro-cli COMANDO";
            for (const char *command : {"codifica", "quadro", "transfere", "inicia", "para",
                                        "apaga", "hora", "data", "portas", "simula", "painel"})
                QTest::addRow("%s %s", command, flag)
                    << QStringList{command, flag} << QString("Uso: letreiro-cli %1").arg(command);
        }
        QTest::newRow("help among other options")
            << QStringList{"transfere", "--xyz", "-h"} << "Uso: letreiro-cli transfere";
        QTest::newRow("help as a command")
            << QStringList{"ajuda", "simula"} << "Uso: letreiro-cli simula";
    }

    void helpIsAskedTheSameEverywhere()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, synopsis);
        const Run r = cli(args);
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.startsWith(synopsis), qPrintable(r.out));
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    }

    // A mistake is one line naming the program, the command and what is
    // wrong; a mistake in the call is followed by that command's synopsis,
    // never by the whole usage.
    void mistakesAreOneLineAndTheCommandsSynopsis_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("synopsis");
        QTest::addColumn<QString>("line");
        // The synopsis after "Uso: letreiro-cli "; none for a mistake that is
        // not in the call.
        const QString program = "COMANDO [opções]", transfer = "transfere [opções] ARQUIVO.msg";
        const QString noPort = "letreiro-cli para: Porta de Comunicação não disponível!!! (";
        QTest::newRow("no command") << QStringList{} << program << "letreiro-cli: falta o comando";
        QTest::newRow("unknown command")
            << QStringList{"voa"} << program << "letreiro-cli: comando desconhecido: voa";
        QTest::newRow("unknown option") << QStringList{"transfere", "--xyz", "a.msg"} << transfer
                                        << "letreiro-cli transfere: opção desconhecida: --xyz";
        QTest::newRow("one dash, a word") << QStringList{"transfere", "-xyz", "a.msg"} << transfer
                                          << "letreiro-cli transfere: opção desconhecida: --xyz";
        QTest::newRow("missing value") << QStringList{"para", "--porta"} << u"para [opções]"_s
                                       << "letreiro-cli para: falta o valor de --porta";
        QTest::newRow("missing text") << QStringList{"codifica"} << u"codifica"_s
                                      << "letreiro-cli codifica: falta o argumento";
        QTest::newRow("address to every panel")
            << QStringList{"hora", "--endereco", "5"} << u"hora"_s
            << "letreiro-cli hora: --endereco não vale para hora: vai a todos os painéis";
        QTest::newRow("width without simulation")
            << QStringList{"simula", "--largura", "7", "--texto", "A"} << u"simula"_s
            << "letreiro-cli simula: --largura 7: Opção inválida para esta quantidade de "
               "caracteres; as larguras simuladas são 5, 6, 9, 12, 15 e 30";
        QTest::newRow("no such width")
            << QStringList{"simula", "--largura", "8", "--texto", "A"} << u"simula"_s
            << "letreiro-cli simula: --largura 8: não há painel dessa largura; as larguras "
               "simuladas são 5, 6, 9, 12, 15 e 30";
        QTest::newRow("a file and a text")
            << QStringList{"simula", "--largura", "6", "--texto", "A", "a.msg"} << u"simula"_s
            << "letreiro-cli simula: dê um ARQUIVO.msg, - (a entrada padrão) ou --texto";
        QTest::newRow("missing file")
            << QStringList{"transfere", "--mostrar", "/nao/existe.msg"} << QString()
            << "letreiro-cli transfere: Não foi possível abrir o arquivo: a pasta do arquivo não "
               "existe. (/nao/existe.msg)";
        QTest::newRow("a network address without its port")
            << QStringList{"para", "--porta", "tcp://127.0.0.1", "--endereco", "1"} << QString()
            << noPort + "tcp://127.0.0.1: endereço de rede inválido (use tcp://HOST:PORTA))";
        QTest::newRow("missing port")
            << QStringList{"para", "--porta", "/dev/nao-existe", "--endereco", "1"} << QString()
            << noPort + "/dev/nao-existe: dispositivo não encontrado)";
    }

    void mistakesAreOneLineAndTheCommandsSynopsis()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, synopsis);
        QFETCH(QString, line);
        const Run r = cli(args);
        QCOMPARE(r.status, 2);
        QVERIFY(r.out.isEmpty());
        const QStringList lines = r.err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), line);
        if (synopsis.isEmpty()) {
            QCOMPARE(lines.size(), 1);
            return;
        }
        QVERIFY2(lines.value(1).startsWith("Uso: letreiro-cli " + synopsis), qPrintable(r.err));
        QVERIFY2(lines.size() <= 5, qPrintable(r.err));
        QVERIFY2(lines.last().startsWith("Mais: letreiro-cli"), qPrintable(r.err));
    }

    // Each bound of an option: the last value allowed passes, the next is
    // refused with the option's message.
    void optionsAtTheirBounds_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("refusal");
        const QStringList show{"para", "--mostrar", "--pasta", m_dir.path(), "--endereco"};
        const QStringList simulate{"simula", "--largura", "9", m_message};
        const QString oneAddress = "--endereco deve ser um número de 0 a 31";
        const QString zeroAlone = "0 (todos os painéis) vale só sozinho";
        const QString emulated = "--endereco deve ser uma lista de 1 a 31";
        QTest::newRow("type 8") << QStringList{"codifica", "--tipo", "8", "A"} << QString();
        QTest::newRow("type 9") << QStringList{"codifica", "--tipo", "9", "A"} << "--tipo deve";
        QTest::newRow("type -1") << QStringList{"codifica", "--tipo", "-1", "A"} << "--tipo deve";
        QTest::newRow("address 31") << QStringList{"quadro", "--endereco", "31", "A"} << QString();
        QTest::newRow("address 32") << QStringList{"quadro", "--endereco", "32", "A"} << oneAddress;
        QTest::newRow("a list for one")
            << QStringList{"quadro", "--endereco", "1,2", "A"} << oneAddress;
        QTest::newRow("32 in a list") << show + QStringList{"1,32"} << "ou uma lista como 1,3,5-7";
        QTest::newRow("0 after one") << show + QStringList{"1,0"} << zeroAlone;
        QTest::newRow("0 after a range") << show + QStringList{"2-3,0"} << zeroAlone;
        QTest::newRow("usb 0") << show + QStringList{"1", "--usb", "0"} << QString();
        QTest::newRow("usb 1") << show + QStringList{"1", "--usb", "1"} << QString();
        QTest::newRow("usb 2") << show + QStringList{"1", "--usb", "2"} << "--usb deve";
        QTest::newRow("wait 3600") << show + QStringList{"1", "--esperar", "3600"} << QString();
        QTest::newRow("wait 3601")
            << show + QStringList{"1", "--esperar", "3601"} << "--esperar deve";
        QTest::newRow("stop at a day")
            << simulate + QStringList{"--ate", "0", "--parar-em", "86400"} << QString();
        QTest::newRow("stop after a day")
            << simulate + QStringList{"--parar-em", "86400.001"} << "--parar-em deve";
        QTest::newRow("until before 0")
            << simulate + QStringList{"--ate", "-0.001"} << "--ate deve";
        QTest::newRow("emulated 0") << QStringList{"painel", "--endereco", "0"} << emulated;
        QTest::newRow("emulated 32") << QStringList{"painel", "--endereco", "32"} << emulated;
        QTest::newRow("tcp 65536") << QStringList{"painel", "--tcp", "65536"} << "--tcp deve";
    }

    void optionsAtTheirBounds()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, refusal);
        const Run r = cli(args);
        QCOMPARE(r.status, refusal.isEmpty() ? 0 : 2);
        QVERIFY2(refusal.isEmpty() ? r.err.isEmpty() : r.err.contains(refusal), qPrintable(r.err));
        QVERIFY(refusal.isEmpty() || r.out.isEmpty());
    }

    void simulateOnVirtualTime()
    {
        const QString path = m_dir.filePath("relogio.msg");
        writeFile(path, writeRtf(Message().text("AB").tag("<Relogio____>")));
        const QStringList nine{"simula", "--largura", "9", "--relogio", "2026-12-06 23:59:59"};
        const Run r = cli(nine + QStringList{"--ate", "1", "--parar-em", "0.6", path});
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(
            lines.value(0),
            QString(R"({"t": 0.000, "visor": "        A", "alinhamento": "direita", )"
                    R"("etiqueta": "", "cores": ["", "", "", "", "", "", "", "", "FF0000"]})"));
        QVERIFY(
            lines.value(2).startsWith(R"({"t": 0.180, "visor": " 23:59:59", )"
                                      R"("alinhamento": "esquerda", "etiqueta": "<Relogio____>")"));
        QVERIFY(lines.contains(R"({"t": 0.690, "fim": true})"));
        // The state due exactly at --ate is played; --ate 0 is the first alone.
        const QStringList upTo =
            cli(nine + QStringList{"--ate", "0.18", path}).out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(upTo, lines.mid(0, 3));
        const Run first = cli({"simula", "--largura", "9", "--ate", "0", path});
        QCOMPARE(first.status, 0);
        QCOMPARE(first.out, lines.value(0) + '\n');

        QCOMPARE(cli({"simula", "--largura", "12", "/nao/existe.msg"}).status, 2);
    }

    // A message typed for the simulation plays as the same message in a
    // file: tags by name are effects, not text.
    void simulateATypedMessage()
    {
        const QString path = m_dir.filePath("tipado.msg");
        constexpr ColourRef black = rgbColour(0, 0, 0);
        writeFile(path, writeRtf(Message().text("Olá ", black).tag("<Relogio____>", black)));
        const QStringList simulate{"simula",    "--largura",          "9", "--ate", "2",
                                   "--relogio", "2026-12-06 10:00:00"};
        const Run fromFile = cli(simulate + QStringList{path});
        QCOMPARE(fromFile.status, 0);
        QVERIFY(fromFile.out.contains("\"etiqueta\": \"<Relogio____>\""));
        QCOMPARE(cli(simulate + QStringList{"--texto", "Olá <Relogio____>"}).out, fromFile.out);
        QCOMPARE(cli(simulate + QStringList{"-"}, "Olá <Relogio____>\n").out, fromFile.out);
    }

    // The sample message the packages ship is the program's own: the
    // writer gives it back byte for byte, and a dry run reads it.
    void theShippedMessageIsTheWritersOwn()
    {
        const QString path = LETREIRO_SOURCE_DIR "/exemplos/promocao.msg";
        const RtfReadResult read = readRtf(contents(path));
        QVERIFY(read.ok);
        QCOMPARE(writeRtf(read.text), contents(path));
        const Run r = cli({"transfere", "--mostrar", "--endereco", "1", path});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    }

    // The port of the settings is said before a send, to a person only.
    void theSettingsPortIsSaidOnATerminal_data()
    {
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<bool>("portGiven");
        QTest::addColumn<bool>("said");
        QTest::newRow("terminal, settings' port") << true << false << true;
        QTest::newRow("terminal, --porta") << true << true << false;
        QTest::newRow("pipe, settings' port") << false << false << false;
    }

    void theSettingsPortIsSaidOnATerminal()
    {
        QFETCH(bool, terminal);
        QFETCH(bool, portGiven);
        QFETCH(bool, said);
        Emulator panel;
        QTemporaryDir dir;
        writeFile(dir.filePath("cobalto.cfg"), " 1\r\n 1\r\n 0\r\n 0\r\n 0\r\n");
        QStringList args{"para", "--pasta", dir.path()};
        if (portGiven) args << "--porta" << panel.device;
        qputenv("LETREIRO_PORTAS", ("COM1=" + panel.device).toUtf8());
        const Run r = terminal ? cliOnATerminal(args) : cli(args);
        qunsetenv("LETREIRO_PORTAS");
        QCOMPARE(r.status, 0);
        const QString notice = QString("letreiro-cli para: envia pela porta 1 (%1), das "
                                       "configurações em %2; para outra, --porta")
                                   .arg(panel.device, dir.filePath("cobalto.cfg"));
        QCOMPARE(r.err.contains(notice), said);
    }

    void theEmulatorStopsOnTerminate()
    {
        Emulator panel;
        panel.process().terminate();
        QVERIFY(panel.process().waitForFinished(5000));
        QCOMPARE(panel.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel.process().exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
