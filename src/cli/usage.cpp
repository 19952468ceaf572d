#include "usage.h"

namespace
{

const QString kExit =
    QStringLiteral("\nSaída: 0 sucesso, 1 falha na transmissão, 2 erro de uso, arquivo ou porta.");

const QString kSendOptions = QStringLiteral(
    "  --pasta DIR        pasta dos arquivos de configuração\n"
    "  --porta P          número da porta, caminho do dispositivo ou tcp://HOST:PORTA;\n"
    "                     sem ela, a porta das configurações (dita antes do envio,\n"
    "                     quando stderr é um terminal)\n"
    "  --tipo N           tipo de painel (0 a 8)\n"
    "  --usb 0|1          adaptador USB / RS232\n"
    "  --mostrar          não envia (nem abre a porta); mostra os dados (antes da\n"
    "                     codificação) e o quadro, cada linha com o seu nome\n"
    "  --esperar S        espera até S segundos pela porta em uso por outro programa\n"
    "  --json             uma linha JSON por painel: endereco, ok, resultado, motivo\n"
    "  -h, --ajuda        mostra este texto\n");

const QString kPanels = QStringLiteral(
    "  --endereco A       0 a 31 (0 = todos os painéis), ou uma lista como 1,3,5-7:\n"
    "                     os painéis um depois do outro, uma linha de resultado cada;\n"
    "                     sem repetições, e 0 só sozinho\n");

struct Help {
    const char *name;
    // The "Uso:" lines: all a mistake shows.
    QString synopsis;
    QString body;
};

QString panelVerb(const char *name)
{
    const QString n = QString::fromLatin1(name);
    const QString verb = n == QLatin1String("inicia") ? QStringLiteral("Inicia")
                         : n == QLatin1String("para") ? QStringLiteral("Para")
                                                      : QStringLiteral("Apaga");
    return verb + QStringLiteral(" a exibição dos painéis.\n\nOpções:\n") + kPanels + kSendOptions +
           kExit;
}

QString clockBody(const char *what)
{
    return QStringLiteral("Acerta %1 de todos os painéis da linha pelo relógio deste "
                          "computador.\n\nOpções:\n")
               .arg(QLatin1String(what)) +
           kSendOptions + kExit;
}

const QList<Help> &table()
{
    static const QList<Help> t = {
        {"codifica", QStringLiteral("Uso: letreiro-cli codifica [--tipo N] TEXTO | -"),
         QStringLiteral(
             "Mostra em hexadecimal os dados que o quadro de \"transfere --texto TEXTO\"\n"
             "leva ao painel, sem o L do começo: quebras de linha e tabulações saem, os\n"
             "efeitos e as letras acentuadas viram os seus códigos e, depois de um efeito\n"
             "de prefixo (<Neve_______>, <Roda_Cima__>...), passados tantos caracteres\n"
             "quanto a largura do painel, vai um espaço a mais. Com -, o texto vem da\n"
             "entrada padrão.\n\n"
             "  --tipo N           tipo de painel (0 a 8; 0 quando não dado)\n"
             "  -h, --ajuda        mostra este texto")},
        {"quadro", QStringLiteral("Uso: letreiro-cli quadro [--tipo N] [--endereco A] DADOS"),
         QStringLiteral("Mostra em hexadecimal o quadro completo dos dados (um comando, como\n"
                        "\"I\", ou \"L\" seguido do texto).\n\n"
                        "  --tipo N           tipo de painel (0 a 8; 0 quando não dado)\n"
                        "  --endereco A       endereço do painel (0 a 31; 0 quando não dado)\n"
                        "  -h, --ajuda        mostra este texto")},
        {"transfere",
         QStringLiteral(
             "Uso: letreiro-cli transfere [opções] ARQUIVO.msg\n"
             "     letreiro-cli transfere [opções] -              (texto UTF-8 na entrada)\n"
             "     letreiro-cli transfere [opções] --texto TEXTO"),
         QStringLiteral(
             "Envia uma mensagem aos painéis. No texto, os efeitos vão pelo nome, como\n"
             "no editor: \"Senha 042 <Pisca______>Guichê 3\". O que o painel não receberia\n"
             "como foi escrito (caracteres fora do código, efeitos desconhecidos, texto\n"
             "além do limite) é avisado em stderr.\n\nOpções:\n"
             "  --estrito          recusa (saída 2, nada enviado) o que geraria um aviso\n") +
             kPanels + kSendOptions + kExit},
        {"inicia", QStringLiteral("Uso: letreiro-cli inicia [opções]"), panelVerb("inicia")},
        {"para", QStringLiteral("Uso: letreiro-cli para [opções]"), panelVerb("para")},
        {"apaga", QStringLiteral("Uso: letreiro-cli apaga [opções]"), panelVerb("apaga")},
        {"hora", QStringLiteral("Uso: letreiro-cli hora [opções]"), clockBody("a hora")},
        {"data", QStringLiteral("Uso: letreiro-cli data [opções]"), clockBody("a data")},
        {"portas", QStringLiteral("Uso: letreiro-cli portas"),
         QStringLiteral("Lista as portas seriais, com o número de cada uma.")},
        {"simula",
         QStringLiteral(
             "Uso: letreiro-cli simula --largura W [--ate S] [--parar-em S]\n"
             "                         [--relogio \"AAAA-MM-DD HH:MM:SS\"] [--svg A.svg] [--png "
             "A.png]\n"
             "                         ARQUIVO.msg | - | --texto TEXTO"),
         QStringLiteral(
             "Simula o painel de W caracteres (5, 6, 9, 12, 15 ou 30) em tempo virtual e\n"
             "escreve cada mudança numa linha JSON. No texto (--texto, ou - para a entrada\n"
             "padrão), os efeitos vão pelo nome, como no editor.\n\n"
             "  --ate S            até S segundos de tempo virtual (30 quando não dado)\n"
             "  --parar-em S       como o botão Parar, aos S segundos\n"
             "  --relogio DATA     a data e a hora do começo, para <Data_______> e\n"
             "                     <Relogio____>\n"
             "  --svg ARQUIVO.svg  grava a animação dos LEDs, que se abre em qualquer navegador\n"
             "  --png ARQUIVO.png  grava a imagem do painel no fim (--ate)\n"
             "  -h, --ajuda        mostra este texto")},
        {"painel",
         QStringLiteral("Uso: letreiro-cli painel [--endereco A] [--resposta R] [--tcp PORTA]"),
         QStringLiteral(
             "Emula painéis para testar sem aparelho: num pseudo-terminal (cujo nome é a\n"
             "primeira linha escrita) ou, com --tcp, na porta TCP de 127.0.0.1 (0: uma livre),\n"
             "como um servidor serial de rede. Escreve uma linha por quadro recebido.\n\n"
             "  --endereco A       os endereços que respondem (1 a 31, ou lista como 1,3,5-7)\n"
             "  --resposta R       ack, nak, nenhuma, desliga (desfaz a ligação) ou ruido\n"
             "  -h, --ajuda        mostra este texto")},
    };
    return t;
}

const Help *find(const QString &name)
{
    for (const Help &h : table()) {
        if (name == QLatin1String(h.name)) return &h;
    }
    return nullptr;
}

} // namespace

namespace usage
{

QStringList commands()
{
    QStringList names;
    for (const Help &h : table())
        names.append(QLatin1String(h.name));
    return names;
}

bool isCommand(const QString &name)
{
    return find(name) != nullptr;
}

QString command(const QString &name)
{
    const Help *h = find(name);
    return h ? h->synopsis + QStringLiteral("\n\n") + h->body : program();
}

QString commandShort(const QString &name)
{
    const Help *h = find(name);
    if (!h) return programShort();
    return h->synopsis + QStringLiteral("\nMais: letreiro-cli %1 --ajuda").arg(name);
}

QString programShort()
{
    return QStringLiteral("Uso: letreiro-cli COMANDO [opções]\nComandos: ") +
           commands().join(QStringLiteral(", ")) +
           QStringLiteral("\nMais: letreiro-cli --ajuda, letreiro-cli COMANDO --ajuda");
}

QString program()
{
    return QStringLiteral(
               "Uso: letreiro-cli COMANDO [opções]      (letreiro-cli COMANDO --ajuda para cada "
               "um)\n"
               "\n"
               "Comandos:\n"
               "  codifica [--tipo N] TEXTO | -        mostra em hexadecimal o texto codificado\n"
               "  quadro [--tipo N] [--endereco A] DADOS\n"
               "                                       mostra em hexadecimal o quadro completo\n"
               "  transfere [opções] [--estrito] ARQUIVO.msg | - | --texto TEXTO\n"
               "                                       envia a mensagem aos painéis\n"
               "  inicia | para | apaga [opções]       inicia, para ou apaga os painéis\n"
               "  hora | data [opções]                 acerta a hora ou a data dos painéis\n"
               "  portas                               lista as portas seriais\n"
               "  simula --largura W [--ate S] [--parar-em S] [--relogio \"AAAA-MM-DD HH:MM:SS\"]\n"
               "         [--svg A.svg] [--png A.png] ARQUIVO.msg | - | --texto TEXTO\n"
               "                                       simula o painel em tempo virtual (JSON)\n"
               "  painel [--endereco A] [--resposta R] [--tcp PORTA]\n"
               "                                       emula painéis num pseudo-terminal ou em "
               "TCP\n"
               "\n"
               "Opções dos comandos de envio:\n"
               "  --endereco A       endereço do painel (0 a 31; 0 = todos), ou uma lista\n"
               "                     como 1,3,5-7 (transfere, inicia, para, apaga)\n"
               "  --estrito          transfere: recusa o texto que o painel não receberia "
               "igual\n") +
           kSendOptions + QStringLiteral("  --versao           mostra a versão\n") + kExit;
}

} // namespace usage
