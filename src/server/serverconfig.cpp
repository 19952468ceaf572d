#include "serverconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace
{

// "host:port", with port 0 (any free one) allowed only where `anyPort`.
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
    const auto config =
        parse(f.read(1 << 20), QFileInfo(path).absolutePath(), error);
    if (!config) *error = QStringLiteral("%1: %2").arg(path, *error);
    return config;
}

std::optional<ServerConfig> ServerConfig::parse(const QByteArray &text, const QString &folder,
                                                QString *error)
{
    ServerConfig c;
    c.usersFile = QDir(folder).filePath(QStringLiteral("usuarios.json"));
    c.historyFile = QDir(folder).filePath(QStringLiteral("historico.json"));
    QString section;
    int lineNumber = 0;
    const auto fail = [&](const QString &why) {
        *error = lineNumber > 0 ? QStringLiteral("linha %1: %2").arg(lineNumber).arg(why) : why;
        return std::nullopt;
    };
    const auto relative = [&](const QString &p) { return QDir(folder).absoluteFilePath(p); };
    for (const QByteArray &raw : text.split('\n')) {
        ++lineNumber;
        QString l = QString::fromUtf8(raw);
        for (const QChar mark : {u';', u'#'}) {
            const qsizetype at = l.indexOf(mark);
            if (at >= 0) l.truncate(at);
        }
        l = l.trimmed();
        if (l.isEmpty()) continue;
        if (l.startsWith(u'[') && l.endsWith(u']')) {
            section = l.mid(1, l.size() - 2).simplified();
            const QString kind = section.section(u' ', 0, 0);
            const QString name = section.section(u' ', 1);
            if (kind == QLatin1String("linha")) {
                if (name.isEmpty() || c.line(name)) return fail(QStringLiteral("linha sem nome ou repetida"));
                c.lines.append({name, {}, {}, 0});
            } else if (kind == QLatin1String("painel")) {
                if (name.isEmpty() || c.panel(name) || name.contains(u'/'))
                    return fail(QStringLiteral("painel sem nome, repetido ou com \"/\""));
                c.panels.append({name, {}, 0, 0});
            } else if (section != QLatin1String("servidor") && kind != QLatin1String("agenda") &&
                       kind != QLatin1String("mqtt")) {
                return fail(QStringLiteral("seção desconhecida [%1]").arg(section));
            }
            continue;
        }
        const qsizetype eq = l.indexOf(u'=');
        if (eq <= 0) return fail(QStringLiteral("esperava CHAVE = VALOR"));
        const QString key = l.left(eq).trimmed(), value = l.mid(eq + 1).trimmed();
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
            else
                return fail(QStringLiteral("chave desconhecida: %1").arg(key));
        } else if (kind == QLatin1String("linha")) {
            Line &line = c.lines.last();
            if (key == QLatin1String("porta"))
                line.device = value;
            else if (key == QLatin1String("repasse"))
                ok = hostAndPort(value, &line.relayHost, &line.relayPort);
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
        } else if (section.isEmpty()) {
            return fail(QStringLiteral("chave fora de uma seção"));
        }
        if (!ok) return fail(QStringLiteral("valor inválido de %1: \"%2\"").arg(key, value));
    }
    lineNumber = 0;
    if (c.messagesFolder.isEmpty())
        c.messagesFolder = QDir(folder).filePath(QStringLiteral("mensagens"));
    for (const Line &l : c.lines)
        if (l.device.isEmpty()) return fail(QStringLiteral("a linha %1 não tem porta").arg(l.name));
    for (const Panel &p : c.panels)
        if (!c.line(p.line))
            return fail(QStringLiteral("o painel %1 está numa linha que não existe: \"%2\"")
                            .arg(p.name, p.line));
    return c;
}
