#include "cliargs.h"

#include "rtfreader.h"

#include "messagefile.h"

#include <cstdio>

namespace
{
void print(FILE *f, const QString &line)
{
    const QByteArray b = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), f);
    std::fflush(f);
}
} // namespace

void printOut(const QString &line)
{
    print(stdout, line);
}
void printErr(const QString &line)
{
    print(stderr, line);
}

QString usageText()
{
    return QStringLiteral(
        "Uso: letreiro-cli COMANDO [opções]\n"
        "\n"
        "Comandos:\n"
        "  codifica [--tipo N] TEXTO            mostra em hexadecimal o texto codificado\n"
        "  quadro [--tipo N] [--endereco A] DADOS\n"
        "                                       mostra em hexadecimal o quadro completo\n"
        "  transfere [opções] ARQUIVO.msg       envia a mensagem ao painel\n"
        "  inicia | para | apaga [opções]       inicia, para ou apaga o painel\n"
        "  hora | data [opções]                 acerta a hora ou a data dos painéis\n"
        "  portas                               lista as portas seriais\n"
        "  simula --largura W [--ate S] [--parar-em S] [--relogio \"AAAA-MM-DD HH:MM:SS\"]\n"
        "         ARQUIVO.msg                   simula o painel em tempo virtual (JSON)\n"
        "  painel [--endereco A] [--resposta ack|nak|nenhuma]\n"
        "                                       emula um painel num pseudo-terminal\n"
        "\n"
        "Opções dos comandos de envio:\n"
        "  --pasta DIR        pasta dos arquivos de configuração\n"
        "  --porta P          número da porta ou caminho do dispositivo\n"
        "  --endereco A       endereço do painel (0 a 31; 0 = todos)\n"
        "  --tipo N           tipo de painel (0 a 8)\n"
        "  --usb 0|1          adaptador USB / RS232\n"
        "  --mostrar          não envia; mostra os dados e o quadro em hexadecimal\n"
        "\n"
        "Saída: 0 sucesso, 1 falha na transmissão, 2 erro de uso, arquivo ou porta.");
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
        usageError(parser.errorText());
        return false;
    }
    if (parser.positionalArguments().size() != positional) {
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
