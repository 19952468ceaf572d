#include "mqttdiscovery.h"

#include "schedule.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace mqttdiscovery
{
namespace
{
constexpr int kMaxReadable = 190;

QString readable(const QString &name)
{
    QString out;
    for (const QChar c : name.normalized(QString::NormalizationForm_KD).toLower()) {
        if (c.category() == QChar::Mark_NonSpacing) continue;
        const bool plain = c.unicode() < 128 && c.isLetterOrNumber();
        if (plain)
            out += c;
        else if (!out.endsWith(u'_'))
            out += u'_';
    }
    return out;
}

QByteArray json(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
} // namespace

QString entityId(const QString &site, const QString &panel)
{
    const QByteArray exact = site.toUtf8() + '/' + panel.toUtf8();
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(exact, QCryptographicHash::Sha256).toHex().left(8));
    return (QStringLiteral("letreiro_") + readable(site) + u'_' + readable(panel))
               .left(kMaxReadable) +
           u'_' + hash;
}

QList<QPair<QString, QByteArray>> configs(const QString &site,
                                          const QList<ServerConfig::Panel> &panels)
{
    const QString base = QStringLiteral("letreiro/%1/").arg(site);
    const QJsonObject availability{{QStringLiteral("topic"), base + QStringLiteral("estado")}};
    QList<QPair<QString, QByteArray>> out;
    for (const ServerConfig::Panel &p : panels) {
        const QString id = entityId(site, p.name);
        const QJsonObject device{
            {QStringLiteral("identifiers"), QJsonArray{id}},
            {QStringLiteral("name"), QStringLiteral("Letreiro %1 (%2)").arg(p.name, site)},
            {QStringLiteral("manufacturer"), QStringLiteral("Letreiro")}};
        const QJsonObject text{
            {QStringLiteral("name"), QStringLiteral("Texto")},
            {QStringLiteral("unique_id"), id + QStringLiteral("_texto")},
            {QStringLiteral("command_topic"), base + p.name + QStringLiteral("/texto")},
            {QStringLiteral("state_topic"), base + p.name + QStringLiteral("/estado")},
            {QStringLiteral("value_template"), QStringLiteral("{{ value_json.texto }}")},
            {QStringLiteral("max"), 255},
            {QStringLiteral("availability"), QJsonArray{availability}},
            {QStringLiteral("device"), device}};
        out.append({QStringLiteral("homeassistant/text/%1/config").arg(id), json(text)});
        for (const PanelCommand &c : panelCommands()) {
            const QString &command = c.name;
            const QJsonObject button{
                {QStringLiteral("name"), command.at(0).toUpper() + command.mid(1)},
                {QStringLiteral("unique_id"), id + u'_' + command},
                {QStringLiteral("command_topic"), base + p.name + QStringLiteral("/comando")},
                {QStringLiteral("payload_press"), command},
                {QStringLiteral("availability"), QJsonArray{availability}},
                {QStringLiteral("device"), device}};
            out.append({QStringLiteral("homeassistant/button/%1_%2/config").arg(id, command),
                        json(button)});
        }
    }
    return out;
}

} // namespace mqttdiscovery
