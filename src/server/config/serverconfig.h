#pragma once

#include "schedule.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// The service's configuration: a UTF-8 INI file that operators write by
// hand, so comments after ";" or "#" are allowed anywhere on a line.
//
//   [servidor]            escuta = HOST:PORT, mensagens = FOLDER,
//                         usuarios = FILE, historico = FILE (both optional),
//                         nomes = NAME, … (Host names besides the machine's),
//                         proxies = ADDRESS[/BITS], … (whose X-Forwarded-* count),
//                         cookie_seguro = sim|nao
//   [linha NAME]          porta = DEVICE, repasse = HOST:PORT (optional),
//                         repasse_de = ADDRESS[/BITS], … (default: loopback)
//   [painel NAME]         linha = NAME, endereco = 0..31, tipo = 0..8
//   [agenda NAME]         quando, dias | datas, paineis, texto | mensagem | comando
//   [mqtt]                servidor = HOST:PORT, sitio = NOME, usuario, senha,
//                         tls_ca = FILE, descoberta = sim|nao, sessao = DURATION,
//                         validade = DURATION, estrito = sim|nao
//   [sede]                servidor, usuario, senha, tls_* (as [mqtt]), nome = NOME,
//                         sitios = SITE, …, validade = DURATION, desatualizado = DURATION
//   [grupo NAME]          sitios = SITE, …  (the head office's groups of sites)
//
// The agenda the API edits is kept apart, in `agenda = FILE` of
// [servidor] (beside the history by default): the configuration may sit
// where the service cannot write, and its own entries stay as written.
struct ServerConfig {
    struct Line {
        QString name;
        QString device;
        QString relayHost; // empty: no relay
        quint16 relayPort = 0;
        QStringList relayFrom; // who may use the relay; empty: this machine only
    };
    struct Panel {
        QString name;
        QString line;
        int address = 0;
        int type = 0;
    };

    struct Mqtt {
        QString host; // empty: no MQTT
        quint16 port = 1883;
        QString site, user, password, caFile;
        QString certFile, keyFile; // a client certificate, for brokers that ask for one
        bool discovery = false;
        qint64 sessionSeconds = 24 * 3600; // how long the broker keeps the session
        qint64 maxAgeSeconds = 0;          // a message without its own expiry: 0, none
        bool strict = false;               // refuses a text the panel would show altered
    };

    // The head office: every site's panels read from the broker, and sends
    // to many sites at once.
    struct Sede {
        QString host; // empty: no head office
        quint16 port = 1883;
        QString user, password, caFile, certFile, keyFile;
        QString name = QStringLiteral("sede"); // client id letreiro-sede-NAME, and its answers' topic
        QStringList sites;                     // expected: "never seen" until they publish
        qint64 validitySeconds = 600;          // how long a send waits for a site that is away
        qint64 staleSeconds = 180;             // online, but silent this long: out of date
    };

    QString listenHost = QStringLiteral("127.0.0.1");
    quint16 listenPort = 8080;
    QString messagesFolder;
    QString usersFile;
    QString historyFile;
    QStringList hostNames; // names the service answers to, besides its addresses
    QStringList proxies;   // reverse proxies (addresses or networks) believed
    bool secureCookie = false;
    QList<Line> lines;
    QList<Panel> panels;
    QList<ScheduleEntry> schedule; // the configuration's own (fixed) entries
    QString scheduleFile;          // the entries the API edits
    QString scheduleStateFile;     // the last minute the agenda covered
    QString mqttJournalFile;       // MQTT messages still waiting for their line
    Mqtt mqtt;
    Sede sede;
    QMap<QString, QStringList> groups; // [grupo NAME] sitios, for the head office
    QString sedeAuditFile;             // the head office's sends, beside the history

    const Line *line(const QString &name) const;
    const Panel *panel(const QString &name) const;

    // Reads and checks the file; on failure says why, in Portuguese, naming
    // the file and the line.
    static std::optional<ServerConfig> load(const QString &path, QString *error);
    static std::optional<ServerConfig> parse(const QByteArray &text, const QString &folder,
                                             QString *error);

    // The agenda file: [agenda NAME] sections only, their panels checked
    // against this configuration.
    std::optional<QList<ScheduleEntry>> parseSchedule(const QByteArray &text, QString *error) const;
    // Says what is wrong with entries (a panel that does not exist, a name
    // used twice, also among the fixed ones).
    bool checkSchedule(const QList<ScheduleEntry> &entries, QString *error) const;
    static QByteArray scheduleText(const QList<ScheduleEntry> &entries);

    // The agenda file's bounds, as written: an entry, and the whole file
    // (what a start reads at most).
    // Commands and relayed frames a line's queue holds waiting at most
    // (texts replace each other and need no bound of their own).
    static constexpr int kLineMaxWaiting = 256;
    // Connections a line's relay keeps at most (each takes a descriptor).
    static constexpr int kRelayMaxClients = 256;
    static constexpr qsizetype kMaxScheduleEntryBytes = 64 * 1024;
    static constexpr qsizetype kMaxScheduleBytes = 1024 * 1024;
    // Why entries do not fit in the agenda file (in Portuguese), or nothing.
    static QString scheduleTooBig(const QList<ScheduleEntry> &entries);
};
