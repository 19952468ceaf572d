#pragma once

#include <QList>
#include <QString>

#include <optional>

// The service's configuration: a UTF-8 INI file that operators write by
// hand, so comments after ";" or "#" are allowed anywhere on a line.
//
//   [servidor]            escuta = HOST:PORT, mensagens = FOLDER,
//                         usuarios = FILE, historico = FILE (both optional)
//   [linha NAME]          porta = DEVICE, repasse = HOST:PORT (optional)
//   [painel NAME]         linha = NAME, endereco = 0..31, tipo = 0..8
struct ServerConfig {
    struct Line {
        QString name;
        QString device;
        QString relayHost; // empty: no relay
        quint16 relayPort = 0;
    };
    struct Panel {
        QString name;
        QString line;
        int address = 0;
        int type = 0;
    };

    QString listenHost = QStringLiteral("127.0.0.1");
    quint16 listenPort = 8080;
    QString messagesFolder;
    QString usersFile;
    QString historyFile;
    QList<Line> lines;
    QList<Panel> panels;

    const Line *line(const QString &name) const;
    const Panel *panel(const QString &name) const;

    // Reads and checks the file; on failure says why, in Portuguese, naming
    // the file and the line.
    static std::optional<ServerConfig> load(const QString &path, QString *error);
    static std::optional<ServerConfig> parse(const QByteArray &text, const QString &folder,
                                             QString *error);
};
