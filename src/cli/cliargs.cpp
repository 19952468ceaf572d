#include "cliargs.h"

#include "rtfreader.h"

#include "messagefile.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdio>

namespace
{
bool g_outputFailed = false;

void print(FILE *f, const QString &line)
{
    const QByteArray b = (line + QLatin1Char('\n')).toUtf8();
    if (std::fwrite(b.constData(), 1, size_t(b.size()), f) != size_t(b.size()) ||
        std::fflush(f) != 0)
        g_outputFailed = true;
}
} // namespace

bool outputFailed()
{
    return g_outputFailed;
}

void printOut(const QString &line)
{
    print(stdout, line);
}
void printErr(const QString &line)
{
    print(stderr, line);
}

namespace
{

const QString kSendOptions = QStringLiteral(
    "  --pasta DIR        pasta dos arquivos de configuração\n"
    "  --porta P          número da porta, caminho do dispositivo ou tcp://HOST:PORTA\n"
    "  --tipo N           tipo de painel (0 a 8)\n"
    "  --usb 0|1          adaptador USB / RS232\n"
    "  --mostrar          não envia (nem abre a porta); mostra os dados e o quadro\n"
    "  --esperar S        espera até S segundos pela porta em uso por outro programa\n"
    "  --json             uma linha JSON por painel: endereco, ok, resultado, motivo\n");

} // namespace

QString usageText()
{
    return QStringLiteral(
               "Uso: letreiro-cli COMANDO [opções]      (letreiro-cli COMANDO --ajuda para cada "
               "um)\n"
               "\n"
               "Comandos:\n"
               "  codifica [--tipo N] TEXTO            mostra em hexadecimal o texto codificado\n"
               "  quadro [--tipo N] [--endereco A] DADOS\n"
               "                                       mostra em hexadecimal o quadro completo\n"
               "  transfere [opções] [--estrito] ARQUIVO.msg | - | --texto TEXTO\n"
               "                                       envia a mensagem aos painéis\n"
               "  inicia | para | apaga [opções]       inicia, para ou apaga os painéis\n"
               "  hora | data [opções]                 acerta a hora ou a data dos painéis\n"
               "  portas                               lista as portas seriais\n"
               "  simula --largura W [--ate S] [--parar-em S] [--relogio \"AAAA-MM-DD HH:MM:SS\"]\n"
               "         [--svg A.svg] [--png A.png] ARQUIVO.msg\n"
               "                                       simula o painel em tempo virtual (JSON)\n"
               "  painel [--endereco A] [--resposta R] [--tcp PORTA]\n"
               "                                       emula painéis num pseudo-terminal ou em "
               "TCP\n"
               "\n"
               "Opções dos comandos de envio:\n"
               "  --endereco A       endereço do painel (0 a 31; 0 = todos), ou uma lista\n"
               "                     como 1,3,5-7 (transfere, inicia, para, apaga)\n"
               "  --estrito          transfere: recusa o texto que o painel não receberia igual\n") +
           kSendOptions +
           QStringLiteral("\nSaída: 0 sucesso, 1 falha na transmissão, 2 erro de uso, "
                          "arquivo ou porta.");
}

QString commandUsage(const QString &command)
{
    const QString sendTail =
        QStringLiteral("\nOpções:\n") + kSendOptions +
        QStringLiteral("\nSaída: 0 sucesso, 1 falha na transmissão, 2 erro de uso, arquivo ou "
                       "porta.");
    const QString panels = QStringLiteral(
        "  --endereco A       0 a 31 (0 = todos os painéis), ou uma lista como 1,3,5-7:\n"
        "                     os painéis um depois do outro, uma linha de resultado cada;\n"
        "                     sem repetições, e 0 só sozinho\n");
    if (command == QLatin1String("transfere"))
        return QStringLiteral(
                   "Uso: letreiro-cli transfere [opções] ARQUIVO.msg\n"
                   "     letreiro-cli transfere [opções] -              (texto UTF-8 na entrada)\n"
                   "     letreiro-cli transfere [opções] --texto TEXTO\n"
                   "\nEnvia uma mensagem aos painéis. No texto, os efeitos vão pelo nome, como\n"
                   "no editor: \"Senha 042 <Pisca______>Guichê 3\". O que o painel não receberia\n"
                   "como foi escrito (caracteres fora do código, efeitos desconhecidos, texto\n"
                   "além do limite) é avisado em stderr.\n\nOpções:\n"
                   "  --estrito          recusa (saída 2, nada enviado) o que geraria um aviso\n") +
               panels + kSendOptions +
               QStringLiteral("\nSaída: 0 sucesso, 1 falha na transmissão, 2 erro de uso, "
                              "arquivo ou porta.");
    if (command == QLatin1String("inicia") || command == QLatin1String("para") ||
        command == QLatin1String("apaga"))
        return QStringLiteral("Uso: letreiro-cli %1 [opções]\n\n%2 a exibição dos painéis.\n"
                              "\nOpções:\n")
                   .arg(command, command == QLatin1String("inicia") ? QStringLiteral("Inicia")
                                 : command == QLatin1String("para") ? QStringLiteral("Para")
                                                                    : QStringLiteral("Apaga")) +
               panels + kSendOptions +
               QStringLiteral("\nSaída: 0 sucesso, 1 falha na transmissão, 2 erro de uso, "
                              "arquivo ou porta.");
    if (command == QLatin1String("hora") || command == QLatin1String("data"))
        return QStringLiteral("Uso: letreiro-cli %1 [opções]\n\nAcerta %2 de todos os painéis "
                              "da linha pelo relógio deste computador.\n")
                   .arg(command, command == QLatin1String("hora") ? QStringLiteral("a hora")
                                                                  : QStringLiteral("a data")) +
               sendTail;
    if (command == QLatin1String("codifica"))
        return QStringLiteral("Uso: letreiro-cli codifica [--tipo N] TEXTO\n\n"
                              "Mostra em hexadecimal o texto como o painel o recebe.");
    if (command == QLatin1String("quadro"))
        return QStringLiteral("Uso: letreiro-cli quadro [--tipo N] [--endereco A] DADOS\n\n"
                              "Mostra em hexadecimal o quadro completo dos dados.");
    if (command == QLatin1String("portas"))
        return QStringLiteral("Uso: letreiro-cli portas\n\n"
                              "Lista as portas seriais, com o número de cada uma.");
    if (command == QLatin1String("simula"))
        return QStringLiteral(
            "Uso: letreiro-cli simula --largura W [--ate S] [--parar-em S]\n"
            "                         [--relogio \"AAAA-MM-DD HH:MM:SS\"] ARQUIVO.msg\n\n"
            "Simula o painel de W caracteres (5, 6, 9, 12, 15 ou 30) em tempo virtual e\n"
            "escreve cada mudança numa linha JSON.\n\n"
            "  --svg ARQUIVO.svg  grava a animação dos LEDs, que se abre em qualquer navegador\n"
            "  --png ARQUIVO.png  grava a imagem do painel no fim (--ate)");
    if (command == QLatin1String("painel"))
        return QStringLiteral(
            "Uso: letreiro-cli painel [--endereco A] [--resposta R] [--tcp PORTA]\n\n"
            "Emula painéis para testar sem aparelho: num pseudo-terminal (cujo nome é a\n"
            "primeira linha escrita) ou, com --tcp, na porta TCP de 127.0.0.1 (0: uma livre),\n"
            "como um servidor serial de rede. Escreve uma linha por quadro recebido.\n\n"
            "  --endereco A       os endereços que respondem (1 a 31, ou lista como 1,3,5-7)\n"
            "  --resposta R       ack, nak, nenhuma, desliga (desfaz a ligação) ou ruido\n");
    return usageText();
}

QString versionText()
{
    return QStringLiteral("%1 %2.%3.%4")
        .arg(QCoreApplication::applicationName())
        .arg(LETREIRO_VERSION_MAJOR)
        .arg(LETREIRO_VERSION_MINOR)
        .arg(LETREIRO_VERSION_PATCH);
}

int usageError(const QString &message)
{
    printErr(QStringLiteral("letreiro-cli: ") + message);
    printErr(usageText());
    return ExitUsage;
}

bool parseArgs(QCommandLineParser &parser, const QStringList &args, int positional)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(args)) {
        // Qt's own reasons are English; the operator reads Portuguese.
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            usageError(QStringLiteral("opção desconhecida: --%1")
                           .arg(unknown.join(QStringLiteral(", --"))));
        } else {
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("'([^']*)'")).match(parser.errorText());
            usageError(m.hasMatch() ? QStringLiteral("falta o valor de --%1")
                                          .arg(m.captured(1).remove(QLatin1Char('-')))
                                    : QStringLiteral("opções inválidas"));
        }
        return false;
    }
    if (positional >= 0 && parser.positionalArguments().size() != positional) {
        usageError(positional == 0 ? QStringLiteral("argumentos demais: %1")
                                         .arg(parser.positionalArguments().join(QLatin1Char(' ')))
                                   : QStringLiteral("número de argumentos errado"));
        return false;
    }
    return true;
}

std::optional<int> intOption(const QString &value, int low, int high)
{
    bool ok = false;
    const int v = value.toInt(&ok);
    if (!ok || v < low || v > high) return std::nullopt;
    return v;
}

bool readMessageFile(const QString &path, RichText *text)
{
    RtfReadResult r = messagefile::read(path);
    if (!r.ok) {
        printErr(QStringLiteral("letreiro-cli: %1 (%2)").arg(r.error, path));
        return false;
    }
    *text = std::move(r.text);
    return true;
}
