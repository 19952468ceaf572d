#include "serverconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace
{

// "host:port"; port 0 asks for any free one.
bool hostAndPort(const QString &text, QString *host, quint16 *port)
{
    const int colon = int(text.lastIndexOf(u':'));
    if (colon <= 0) return false;
    bool ok = false;
    const uint p = text.mid(colon + 1).toUInt(&ok);
    if (!ok || p > 65535) return false;
    *host = text.left(colon);
    if (host->startsWith(u'[') && host->endsWith(u']')) *host = host->mid(1, host->size() - 2);
    *port = quint16(p);
    return true;
}

QStringList list(const QString &text)
{
    QStringList out;
    for (const QString &item : text.split(u',', Qt::SkipEmptyParts))
        if (!item.trimmed().isEmpty()) out.append(item.trimmed());
    return out;
}

// "90s", "30min", "12h", "1d": a span in seconds, at least one second.
std::optional<qint64> seconds(const QString &text)
{
    static const QList<QPair<QString, qint64>> units = {{QStringLiteral("min"), 60},
                                                        {QStringLiteral("s"), 1},
                                                        {QStringLiteral("h"), 3600},
                                                        {QStringLiteral("d"), 86400}};
    for (const auto &[unit, factor] : units) {
        if (!text.endsWith(unit)) continue;
        bool ok = false;
        const qint64 n = text.chopped(unit.size()).trimmed().toLongLong(&ok);
        if (ok && n > 0 && n <= 366 * 86400 / factor) return n * factor;
        return std::nullopt;
    }
    return std::nullopt;
}

bool yesOrNo(const QString &value, bool *out)
{
    *out = value == QLatin1String("sim");
    return *out || value == QLatin1String("nao") || value == QStringLiteral("não");
}

} // namespace

const ServerConfig::Line *ServerConfig::line(const QString &name) const
{
    for (const Line &l : lines)
        if (l.name == name) return &l;
    return nullptr;
}

const ServerConfig::Panel *ServerConfig::panel(const QString &name) const
{
    for (const Panel &p : panels)
        if (p.name == name) return &p;
    return nullptr;
}

std::optional<ServerConfig> ServerConfig::load(const QString &path, QString *error)
{
    QFile f(path);
    if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("não foi possível ler a configuração %1").arg(path);
        return std::nullopt;
    }
    const auto config = parse(f.read(1 << 20), QFileInfo(path).absolutePath(), error);
    if (!config) *error = QStringLiteral("%1: %2").arg(path, *error);
    return config;
}

namespace
{
bool isTopicName(const QString &name)
{
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(u'+') && !name.contains(u'#');
}

// servidor, usuario, senha and the TLS files: where a broker is and who we
// are to it, in [mqtt] and [sede] alike.
struct BrokerKeys {
    QString *host;
    quint16 *port;
    QString *user, *password, *caFile, *certFile, *keyFile;
    // Whether the value is valid; nothing when the key is not a broker's.
    template<typename Relative>
    std::optional<bool> set(const QString &key, const QString &value, Relative relative)
    {
        if (key == QLatin1String("servidor")) return hostAndPort(value, host, port) && *port != 0;
        const QList<QPair<const char *, QString *>> plain = {{"usuario", user}, {"senha", password}};
        for (const auto &[name, field] : plain)
            if (key == QLatin1String(name)) {
                *field = value;
                return true;
            }
        const QList<QPair<const char *, QString *>> files = {
            {"tls_ca", caFile}, {"tls_certificado", certFile}, {"tls_chave", keyFile}};
        for (const auto &[name, field] : files)
            if (key == QLatin1String(name)) {
                *field = relative(value);
                return true;
            }
        return std::nullopt;
    }
};

// Reads the sections of `text` into `c`; the agenda file may hold only
// [agenda NAME] sections.
bool parseInto(ServerConfig &c, const QByteArray &text, const QString &folder, bool agendaOnly,
               QString *error)
{
    using Line = ServerConfig::Line;
    using Panel = ServerConfig::Panel;
    QString section;
    bool inMqtt = false, inSede = false;
    int lineNumber = 0;
    const auto fail = [&](const QString &why) {
        *error = QStringLiteral("linha %1: %2").arg(lineNumber).arg(why);
        return false;
    };
    const auto relative = [&](const QString &p) { return QDir(folder).absoluteFilePath(p); };
    for (const QByteArray &raw : text.split('\n')) {
        ++lineNumber;
        QString l = QString::fromUtf8(raw);
        // A value in double quotes may hold ";", "#" and the spaces at its
        // ends (texts of the agenda); \" and \\ inside it.
        QString quoted;
        bool isQuoted = false;
        if (const qsizetype eq = l.indexOf(u'=');
            eq > 0 && l.mid(eq + 1).trimmed().startsWith(u'"')) {
            const qsizetype open = l.indexOf(u'"', eq);
            qsizetype i = open + 1;
            for (; i < l.size() && l.at(i) != u'"'; ++i) {
                if (l.at(i) == u'\\' && i + 1 < l.size()) ++i;
                quoted += l.at(i);
            }
            if (i >= l.size()) return fail(QStringLiteral("aspas sem fim"));
            l = l.left(eq + 1) + l.mid(i + 1);
            isQuoted = true;
        }
        for (const QChar mark : {u';', u'#'}) {
            const qsizetype at = l.indexOf(mark);
            if (at >= 0) l.truncate(at);
        }
        l = l.trimmed();
        if (isQuoted && !l.endsWith(u'=')) return fail(QStringLiteral("texto depois das aspas"));
        if (l.isEmpty()) continue;
        if (l.startsWith(u'[') && l.endsWith(u']')) {
            section = l.mid(1, l.size() - 2).simplified();
            const QString kind = section.section(u' ', 0, 0);
            const QString name = section.section(u' ', 1);
            inMqtt = section == QLatin1String("mqtt");
            inSede = section == QLatin1String("sede");
            if (agendaOnly && kind != QLatin1String("agenda"))
                return fail(QStringLiteral("só seções [agenda NOME] neste arquivo"));
            if (kind == QLatin1String("agenda")) {
                const bool taken =
                    std::any_of(c.schedule.cbegin(), c.schedule.cend(),
                                [&](const ScheduleEntry &e) { return e.name == name; });
                if (name.isEmpty() || taken)
                    return fail(QStringLiteral("agenda sem nome ou repetida"));
                ScheduleEntry e;
                e.name = name;
                e.fixed = !agendaOnly;
                c.schedule.append(e);
            } else if (kind == QLatin1String("linha")) {
                if (name.isEmpty() || c.line(name))
                    return fail(QStringLiteral("linha sem nome ou repetida"));
                c.lines.append({name, {}, {}, 0, {}});
            } else if (kind == QLatin1String("painel")) {
                if (!isTopicName(name) || c.panel(name) || name == QLatin1String("todos"))
                    return fail(QStringLiteral("painel sem nome, repetido, \"todos\" ou com \"/\", "
                                               "\"+\" ou \"#\""));
                c.panels.append({name, {}, 0, 0});
            } else if (kind == QLatin1String("grupo")) {
                if (!isTopicName(name) || c.groups.contains(name))
                    return fail(QStringLiteral("grupo sem nome ou repetido"));
                c.groups.insert(name, {});
            } else if (section != QLatin1String("servidor") && !inMqtt && !inSede) {
                return fail(QStringLiteral("seção desconhecida [%1]").arg(section));
            }
            continue;
        }
        const qsizetype eq = l.indexOf(u'=');
        if (eq <= 0) return fail(QStringLiteral("esperava CHAVE = VALOR"));
        const QString key = l.left(eq).trimmed();
        const QString value = isQuoted ? quoted : l.mid(eq + 1).trimmed();
        const QString kind = section.section(u' ', 0, 0);
        bool ok = true;
        if (section == QLatin1String("servidor")) {
            if (key == QLatin1String("escuta"))
                ok = hostAndPort(value, &c.listenHost, &c.listenPort);
            else if (key == QLatin1String("mensagens"))
                c.messagesFolder = relative(value);
            else if (key == QLatin1String("usuarios"))
                c.usersFile = relative(value);
            else if (key == QLatin1String("historico"))
                c.historyFile = relative(value);
            else if (key == QLatin1String("agenda"))
                c.scheduleFile = relative(value);
            else if (key == QLatin1String("nomes"))
                c.hostNames = list(value);
            else if (key == QLatin1String("proxies"))
                c.proxies = list(value); // checked where addresses are known
            else if (key == QLatin1String("cookie_seguro"))
                ok = yesOrNo(value, &c.secureCookie);
            else
                return fail(QStringLiteral("chave desconhecida: %1").arg(key));
        } else if (kind == QLatin1String("linha")) {
            Line &line = c.lines.last();
            if (key == QLatin1String("porta"))
                line.device = value;
            else if (key == QLatin1String("repasse"))
                ok = hostAndPort(value, &line.relayHost, &line.relayPort);
            else if (key == QLatin1String("repasse_de"))
                for (const QString &a : value.split(u',', Qt::SkipEmptyParts))
                    line.relayFrom.append(a.trimmed());
            else
                return fail(QStringLiteral("chave desconhecida: %1").arg(key));
        } else if (kind == QLatin1String("painel")) {
            Panel &panel = c.panels.last();
            if (key == QLatin1String("linha")) {
                panel.line = value;
            } else if (key == QLatin1String("endereco")) {
                panel.address = value.toInt(&ok);
                ok = ok && panel.address >= 0 && panel.address <= 31;
            } else if (key == QLatin1String("tipo")) {
                panel.type = value.toInt(&ok);
                ok = ok && panel.type >= 0 && panel.type <= 8;
            } else {
                return fail(QStringLiteral("chave desconhecida: %1").arg(key));
            }
        } else if (kind == QLatin1String("agenda")) {
            QString why;
            if (!c.schedule.last().set(key, value, &why)) return fail(why);
        } else if (kind == QLatin1String("grupo")) {
            if (key != QLatin1String("sitios"))
                return fail(QStringLiteral("chave desconhecida: %1").arg(key));
            QStringList &sites = c.groups[section.section(u' ', 1)];
            sites = list(value);
            ok = !sites.isEmpty() && std::all_of(sites.cbegin(), sites.cend(), isTopicName);
        } else if (inMqtt || inSede) {
            // The broker's own keys mean the same in both sections.
            BrokerKeys b = inMqtt ? BrokerKeys{&c.mqtt.host, &c.mqtt.port, &c.mqtt.user,
                                               &c.mqtt.password, &c.mqtt.caFile,
                                               &c.mqtt.certFile, &c.mqtt.keyFile}
                                  : BrokerKeys{&c.sede.host, &c.sede.port, &c.sede.user,
                                               &c.sede.password, &c.sede.caFile,
                                               &c.sede.certFile, &c.sede.keyFile};
            if (const auto known = b.set(key, value, relative)) {
                ok = *known;
            } else if (inSede) {
                ServerConfig::Sede &h = c.sede;
                if (key == QLatin1String("nome"))
                    ok = isTopicName(h.name = value);
                else if (key == QLatin1String("sitios")) {
                    h.sites = list(value);
                    ok = std::all_of(h.sites.cbegin(), h.sites.cend(), isTopicName);
                } else if (key == QLatin1String("validade") ||
                           key == QLatin1String("desatualizado")) {
                    const auto s = seconds(value);
                    ok = s.has_value();
                    (key == QLatin1String("validade") ? h.validitySeconds : h.staleSeconds) =
                        s.value_or(0);
                } else
                    return fail(QStringLiteral("chave desconhecida: %1").arg(key));
            } else {
                ServerConfig::Mqtt &m = c.mqtt;
                if (key == QLatin1String("sitio"))
                    ok = isTopicName(m.site = value);
                else if (key == QLatin1String("descoberta"))
                    ok = yesOrNo(value, &m.discovery);
                else if (key == QLatin1String("estrito"))
                    ok = yesOrNo(value, &m.strict);
                else if (key == QLatin1String("sessao") || key == QLatin1String("validade")) {
                    const auto s = seconds(value);
                    ok = s.has_value();
                    (key == QLatin1String("sessao") ? m.sessionSeconds : m.maxAgeSeconds) =
                        s.value_or(0);
                } else
                    return fail(QStringLiteral("chave desconhecida: %1").arg(key));
            }
        } else if (section.isEmpty()) {
            return fail(QStringLiteral("chave fora de uma seção"));
        }
        if (!ok) return fail(QStringLiteral("valor inválido de %1: \"%2\"").arg(key, value));
    }
    for (const ScheduleEntry &e : c.schedule)
        if (!e.complete(error)) return false;
    return true;
}
} // namespace

std::optional<ServerConfig> ServerConfig::parse(const QByteArray &text, const QString &folder,
                                                QString *error)
{
    ServerConfig c;
    c.usersFile = QDir(folder).filePath(QStringLiteral("usuarios.json"));
    c.historyFile = QDir(folder).filePath(QStringLiteral("historico.json"));
    if (!parseInto(c, text, folder, false, error)) return std::nullopt;
    const auto fail = [&](const QString &why) {
        *error = why;
        return std::nullopt;
    };
    if (c.messagesFolder.isEmpty())
        c.messagesFolder = QDir(folder).filePath(QStringLiteral("mensagens"));
    for (const Line &l : c.lines)
        if (l.device.isEmpty()) return fail(QStringLiteral("a linha %1 não tem porta").arg(l.name));
    for (const Panel &p : c.panels)
        if (!c.line(p.line))
            return fail(QStringLiteral("o painel %1 está numa linha que não existe: \"%2\"")
                            .arg(p.name, p.line));
    if (!c.checkSchedule(c.schedule, error)) return std::nullopt;
    if (!c.mqtt.host.isEmpty() && c.mqtt.site.isEmpty())
        return fail(QStringLiteral("[mqtt] precisa de sitio"));
    if (c.mqtt.certFile.isEmpty() != c.mqtt.keyFile.isEmpty())
        return fail(QStringLiteral("[mqtt] tls_certificado e tls_chave vão juntos"));
    if (!c.mqtt.certFile.isEmpty() && c.mqtt.caFile.isEmpty())
        return fail(QStringLiteral("[mqtt] tls_certificado precisa de tls_ca"));
    if (c.sede.certFile.isEmpty() != c.sede.keyFile.isEmpty() ||
        (!c.sede.certFile.isEmpty() && c.sede.caFile.isEmpty()))
        return fail(QStringLiteral("[sede] tls_certificado e tls_chave vão juntos, com tls_ca"));
    if (!c.groups.isEmpty() && c.sede.host.isEmpty())
        return fail(QStringLiteral("[grupo] só com [sede]"));
    for (auto g = c.groups.cbegin(); g != c.groups.cend(); ++g)
        if (g.value().isEmpty())
            return fail(QStringLiteral("o grupo %1 não tem sitios").arg(g.key()));
    const QString beside = QFileInfo(c.historyFile).absolutePath();
    if (c.scheduleFile.isEmpty())
        c.scheduleFile = QDir(beside).filePath(QStringLiteral("agenda.ini"));
    c.scheduleStateFile = QDir(beside).filePath(QStringLiteral("agenda-estado.json"));
    c.mqttJournalFile = QDir(beside).filePath(QStringLiteral("mqtt-pendentes.json"));
    c.sedeAuditFile = QDir(beside).filePath(QStringLiteral("sede-envios.json"));
    return c;
}

std::optional<QList<ScheduleEntry>> ServerConfig::parseSchedule(const QByteArray &text,
                                                                QString *error) const
{
    ServerConfig c;
    if (!parseInto(c, text, {}, true, error)) return std::nullopt;
    if (!checkSchedule(c.schedule, error)) return std::nullopt;
    return c.schedule;
}
