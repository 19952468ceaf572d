#include "messages.h"
#include "rtfwriter.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include "clirunner.h"

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
        QCOMPARE(panel.nextFrame(),
                 QString("endereço 1, verificação certa: L<Neve_______>Olá [E]X"));
    }

    void aRefusalAndASilenceAreFailures()
    {
        Emulator nak({"--resposta", "nak"});
        Run r = cli(send("para", nak.device, {"--endereco", "1"}));
        QCOMPARE(r.out, QString("Falha na transmissão.\n"));
        QCOMPARE(r.status, 1);

        Emulator silent({"--resposta", "nenhuma"});
        QElapsedTimer clock;
        clock.start();
        r = cli(send("inicia", silent.device, {"--endereco", "1"}));
        QCOMPARE(r.out, QString("Falha na transmissão.\n"));
        QCOMPARE(r.status, 1);
        QVERIFY(clock.elapsed() >= 1500);
        QCOMPARE(silent.nextFrame(), QString("endereço 1, verificação certa: I"));
    }

    void globalSendsAndTheClock()
    {
        Emulator panel;
        Run r = cli(send("transfere", panel.device, {"--endereco", "0", m_message}));
        QCOMPARE(r.out, QString("Transmissão global bem sucedida.\n"));
        QVERIFY(panel.nextFrame().startsWith("endereço 0, verificação certa: L<Neve"));
        // The clock goes to every panel: an address would be ignored, so
        // it is refused.
        r = cli(send("hora", panel.device, {"--endereco", "5"}));
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("--endereco não vale para hora"), qPrintable(r.err));
        r = cli(send("hora", panel.device));
        QCOMPARE(r.out, QString("Hora acertada.\n"));
        QVERIFY(panel.nextFrame().startsWith("endereço 0, verificação certa: R hora "));
        r = cli(send("data", panel.device));
        QCOMPARE(r.out, QString("Data acertada.\n"));
        QVERIFY(panel.nextFrame().contains("D data "));
    }

    void defaultsComeFromTheSettingsFolder()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("cobalto.cfg"), " 1\r\n 3\r\n 0\r\n 3\r\n 0\r\n");
        const Run r = cli({"inicia", "--pasta", dir.path(), "--mostrar"});
        QCOMPARE(r.out, QString("49\n81 7E 05 00 03 00 FF FF 49 4A\n"));
        // Options win over the files, which the tool never creates.
        const Run t = cli({"transfere", "--pasta", dir.path(), "--mostrar", "--tipo", "3",
                           "--endereco", "2", m_message});
        QCOMPARE(t.out.section('\n', 0, 0),
                 QString("4C 3C 4E 65 76 65 5F 5F 5F 5F 5F 5F 5F 3E 4F 6C E1 20 FE 58"));
        QVERIFY(t.out.section('\n', 1, 1)
                    .startsWith("81 7E 0D 00 02 00 FF FF 4C CF 4F 6C 02 20 FE 20 58"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"cobalto.cfg"});
    }

    void encodeAndFrame()
    {
        QCOMPARE(cli({"codifica", "--tipo", "0", "<Neve_______>ABCDEFGHIJKLMN"}).out,
                 QString("CF 41 42 43 44 45 46 47 48 49 4A 4B 4C 20 4D 4E\n"));
        QCOMPARE(cli({"codifica", "ação"}).out, QString("61 0C 04 6F\n"));
        QCOMPARE(cli({"quadro", "--endereco", "1", "A"}).out,
                 QString("81 7E 05 00 01 00 FF FF 41 40\n"));
    }

    // Refusals are explained in Portuguese, with status 2 and nothing on
    // stdout; at each bound of an option the last value allowed passes and
    // the next is refused.
    void argumentsAreCheckedAndExplained_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("no command") << QStringList{} << "falta o comando";
        QTest::newRow("unknown command") << QStringList{"voa"} << "comando desconhecido";
        QTest::newRow("unknown option") << QStringList{"codifica", "--cor", "x", "A"} << "cor";
        QTest::newRow("missing file")
            << QStringList{"transfere", "--mostrar", "/nao/existe.msg"} << "o arquivo não existe";
        QTest::newRow("missing port")
            << QStringList{"para", "--porta", "/dev/nao-existe", "--endereco", "1"}
            << "Porta de Comunicação não disponível!!!";
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
        QTest::newRow("0 after one") << show + QStringList{"1,0"} << zeroAlone;
        QTest::newRow("0 after a range") << show + QStringList{"2-3,0"} << zeroAlone;
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

    void argumentsAreCheckedAndExplained()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, refusal);
        const Run r = cli(args);
        QCOMPARE(r.status, refusal.isEmpty() ? 0 : 2);
        QVERIFY2(refusal.isEmpty() ? r.err.isEmpty() : r.err.contains(refusal), qPrintable(r.err));
        QVERIFY(refusal.isEmpty() || r.out.isEmpty());
    }

    void aFileThatIsNotAMessage()
    {
        const QString bad = m_dir.filePath("ruim.msg");
        writeFile(bad, "isto não é RTF");
        const Run r = cli({"transfere", "--mostrar", bad});
        QCOMPARE(r.status, 2);
        QVERIFY(r.err.contains("Arquivo de mensagem inválido: "));
    }

    void simulateOnVirtualTime()
    {
        const QString path = m_dir.filePath("relogio.msg");
        writeFile(path, writeRtf(Message().text("AB").tag("<Relogio____>")));
        const Run r = cli({"simula", "--largura", "9", "--ate", "1", "--parar-em", "0.6",
                           "--relogio", "2026-12-06 23:59:59", path});
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0),
                 QString("{\"t\": 0.000, \"visor\": \"        A\", \"alinhamento\": "
                         "\"direita\", \"etiqueta\": \"\", \"cores\": [\"\", \"\", "
                         "\"\", \"\", \"\", \"\", \"\", \"\", \"FF0000\"]}"));
        QVERIFY(lines.value(2).startsWith(
            "{\"t\": 0.180, \"visor\": \" 23:59:59\", "
            "\"alinhamento\": \"esquerda\", \"etiqueta\": \"<Relogio____>\""));
        QVERIFY(lines.contains("{\"t\": 0.690, \"fim\": true}"));
        // The state due exactly at --ate is played; --ate 0 is the first alone.
        const QStringList upTo = cli({"simula", "--largura", "9", "--ate", "0.18", "--relogio",
                                      "2026-12-06 23:59:59", path})
                                     .out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(upTo, lines.mid(0, 3));
        const Run first = cli({"simula", "--largura", "9", "--ate", "0", path});
        QCOMPARE(first.status, 0);
        QCOMPARE(first.out, lines.value(0) + '\n');

        Run bad = cli({"simula", "--largura", "10", path});
        QCOMPARE(bad.status, 2);
        QCOMPARE(bad.err, QString("Opção inválida para esta quantidade de caracteres\n"));
        bad = cli({"simula", "--largura", "8", path});
        QCOMPARE(bad.status, 2);
        QVERIFY(bad.err.contains("--largura"));
        QCOMPARE(cli({"simula", "--largura", "12", "/nao/existe.msg"}).status, 2);
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
