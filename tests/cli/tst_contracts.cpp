// What scripts rely on: nothing reaches the wrong panel, every panel of a
// list gets its exchange, no failure is reported as success, no device or
// input is overwritten, memory stays bounded, and every message is the
// program's own Portuguese.
#include "clirunner.h"
#include "testfiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

class TestContracts : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString configured(const QByteArray &config = " 1\r\n 1\r\n 0\r\n 0\r\n 0\r\n")
    {
        const QString folder = m_dir.filePath(QString::number(++m_folders));
        QDir().mkpath(folder);
        writeFile(folder + "/cobalto.cfg", config);
        return folder;
    }
    int m_folders = 0;

    // Nothing reached the emulator within a short while.
    static bool silent(Emulator &panel) { return !panel.process().waitForReadyRead(300); }

private Q_SLOTS:
    void settingsThatCannotSayWhichPanel()
    {
        Emulator panel;
        const QString file = m_dir.filePath("um-arquivo");
        writeFile(file, "x");
        const QString missing = m_dir.filePath("nao-existe");
        for (const auto &[folder, why] : {std::pair{missing, "a pasta " + missing + " não existe"},
                                          {file, file + " não é uma pasta"}}) {
            const Run r = cli({"para", "--pasta", folder, "--porta", panel.device});
            QCOMPARE(r.status, 2);
            QVERIFY2(r.err.contains(why), qPrintable(r.err));
        }
        // No settings where the tool looks by default (a service account):
        // no address to send to, and 0 is not a guess.
        Run r = cli({"para", "--porta", panel.device});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("cobalto.cfg") && r.err.contains("--endereco"), qPrintable(r.err));
        // A port number too large for 16 bits, or outside 1 to 9999.
        for (const char *port : {"70000", "0", "-3"}) {
            const QString folder = configured(QByteArray(" ") + port + "\r\n 1\r\n 0\r\n 0\r\n 0\r\n");
            r = cli({"para", "--pasta", folder});
            QCOMPARE(r.status, 2);
            QVERIFY2(r.err.contains("cobalto.cfg") && r.err.contains(QString("\"%1\"").arg(port)),
                     qPrintable(r.err));
        }
        QVERIFY(silent(panel));
    }

    void everyPanelGetsItsExchangeWhateverReadsTheOutput()
    {
        Emulator panel({"--endereco", "1-5"});
        const QString folder = configured();
        QProcess shell;
        shell.start("bash", {"-c", QString("'%1' para --pasta '%2' --porta '%3' --endereco 1-5 "
                                           "| head -c 1 >/dev/null; echo ${PIPESTATUS[0]}")
                                       .arg(LETREIRO_CLI, folder, panel.device)});
        QVERIFY(shell.waitForFinished(30000));
        QCOMPARE(shell.readAllStandardOutput().trimmed(), QByteArray("2"));
        for (int a = 1; a <= 5; ++a)
            QCOMPARE(panel.nextFrame(), QString("endereço %1, verificação certa: P").arg(a));
        shell.start("bash", {"-c", QString("'%1' para --pasta '%2' --porta '%3' > /dev/full")
                                       .arg(LETREIRO_CLI, folder, panel.device)});
        QVERIFY(shell.waitForFinished(30000));
        QCOMPARE(shell.exitCode(), 2);
    }

    void picturesNeverReplaceWhatIsNotTheirs()
    {
        const QString message = m_dir.filePath("m.msg");
        const QByteArray rtf = "{\\rtf1 Ola}";
        writeFile(message, rtf);
        for (const QStringList &args :
             {QStringList{"--svg", message}, QStringList{"--png", message},
              QStringList{"--svg", "/dev/null"}, QStringList{"--svg", m_dir.path()}}) {
            const Run r = cli(QStringList{"simula", "--largura", "12", "--ate", "1"} + args +
                              QStringList{message});
            QCOMPARE(r.status, 2);
            QVERIFY2(r.err.contains("própria mensagem") || r.err.contains("não é um arquivo comum"),
                     qPrintable(r.err));
        }
        QCOMPARE(contents(message), rtf);
        struct stat st {};
        QVERIFY(::stat("/dev/null", &st) == 0 && S_ISCHR(st.st_mode));
        for (const char *bad : {"nan", "inf", "86401", "-1"}) {
            for (const char *option : {"--ate", "--parar-em"}) {
                const Run r = cli({"simula", "--largura", "12", option, bad, message});
                QCOMPARE(r.status, 2);
                QVERIFY(r.out.isEmpty());
            }
        }
        // Too long an animation (the clock never repeats) is a clear error,
        // not hundreds of megabytes.
        const QString many = m_dir.filePath("relogio.msg");
        writeFile(many, "{\\rtf1 <\\ul Velocidade6\\ul0 ><\\ul Relogio____\\ul0 >" +
                            QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZ").repeated(12) + "}");
        const Run r = cli({"simula", "--largura", "12", "--ate", "3000", "--svg",
                           m_dir.filePath("a.svg"), many});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("estados"), qPrintable(r.err));
    }

    void whatThePanelWouldNotGetIsSaid()
    {
        const QString folder = configured();
        const QStringList send{"transfere", "--pasta", folder, "--mostrar", "--texto"};
        Run r = cli(send + QStringList{"ł <pisca______>X 25°C"});
        QCOMPARE(r.status, 0);
        const QStringList warnings = r.err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(warnings.size(), 3);
        QVERIFY(warnings[0].contains("\"?\": ł"));
        QVERIFY(warnings[1].contains("<pisca______>"));
        QVERIFY(warnings[2].contains("\"°\" (<Pausa______>)"));
        r = cli(send + QStringList{QString(7600, 'x')});
        QVERIFY2(r.err.contains("7500"), qPrintable(r.err));
        r = cli(send + QStringList{"ł", "--estrito"});
        QCOMPARE(r.status, 2);
        QVERIFY(r.out.isEmpty());
        r = cli(send + QStringList{"Bom dia <Pisca______>ação", "--estrito"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.err.isEmpty());
    }

    void jsonOutcomesAndAddressLists()
    {
        Emulator panel({"--endereco", "1"});
        const QString folder = configured();
        Run r = cli({"para", "--pasta", folder, "--porta", panel.device, "--endereco", "1,2",
                     "--json"});
        QCOMPARE(r.status, 1);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        const QJsonObject ok = QJsonDocument::fromJson(lines[0].toUtf8()).object();
        const QJsonObject failed = QJsonDocument::fromJson(lines[1].toUtf8()).object();
        QCOMPARE(ok, QJsonObject({{"endereco", 1}, {"ok", true},
                                  {"resultado", "Transmissão bem sucedida."}}));
        QCOMPARE(failed.value("endereco").toInt(), 2);
        QCOMPARE(failed.value("ok").toBool(true), false);
        QCOMPARE(failed.value("motivo").toString(), QString("o painel não respondeu"));
        panel.nextFrame();
        panel.nextFrame();
        for (const char *list : {"1,1", "1-3,2", "0,1", "0-31"}) {
            r = cli({"para", "--pasta", folder, "--porta", panel.device, "--endereco", list});
            QCOMPARE(r.status, 2);
        }
        QVERIFY(silent(panel));
    }

    // A sender that died in the middle of a frame does not spoil the next.
    void theEmulatorStartsAfreshAfterAPause()
    {
        Emulator panel;
        {
            QFile port(panel.device);
            QVERIFY(port.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            port.write("\x81\x7E\x20\x00\x01\x00");
        }
        QTest::qWait(700);
        const Run r = cli({"para", "--pasta", configured(), "--porta", panel.device});
        QCOMPARE(r.status, 0);
    }

    void messagesAreThePrograms()
    {
        const QString loop = m_dir.filePath("laco.msg");
        QVERIFY(QFile::link(loop, loop));
        Run r = cli({"transfere", "--mostrar", loop});
        QVERIFY2(r.err.contains("laço"), qPrintable(r.err));
        if (::geteuid() != 0) { // root reads and enters everything
            const QString closed = m_dir.filePath("fechado.msg");
            writeFile(closed, "{\\rtf1 x}");
            ::chmod(QFile::encodeName(closed).constData(), 0);
            r = cli({"transfere", "--mostrar", closed});
            QVERIFY2(r.err.contains("sem permissão para ler o arquivo"), qPrintable(r.err));
        }
        const QString folder = configured();
        r = cli({"para", "--pasta", folder, "--porta", "/etc/passwd"});
        QVERIFY2(r.err.contains("/etc/passwd: não é uma porta serial"), qPrintable(r.err));
        Emulator tcp({"--tcp", "0"});
        const QString port = tcp.device.section(':', -1);
        r = cli({"painel", "--tcp", port});
        QVERIFY2(r.err.contains(QString("a porta TCP %1 já está em uso").arg(port)),
                 qPrintable(r.err));
        r = cli({"--ajuda"});
        for (const char *option : {"--texto", "--svg", "--png", "--json", "--estrito", "--esperar",
                                   "--relogio", "--resposta", "--tcp"})
            QVERIFY2(r.out.contains(option), option);
        // The desktop program answers without a display or a window.
        QProcess desktop;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        desktop.setProcessEnvironment(env);
        for (const auto &[flag, answer] : {std::pair{"--help", "Uso: letreiro"},
                                           {"--ajuda", "Uso: letreiro"},
                                           {"--version", "letreiro 1."}}) {
            desktop.start(LETREIRO_DESKTOP, {flag});
            QVERIFY(desktop.waitForFinished(10000));
            QCOMPARE(desktop.exitCode(), 0);
            QVERIFY2(desktop.readAllStandardOutput().startsWith(answer), flag);
        }
    }
};

QTEST_GUILESS_MAIN(TestContracts)
#include "tst_contracts.moc"
