#pragma once

#include "serverconfig.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Home Assistant's MQTT discovery for a site's panels: a `text` entity per
// panel and a `button` per command, each a retained config.
namespace mqttdiscovery
{

// Letters, digits and "_" from the site's and panel's names (lower case,
// accents dropped), then a short hash of the exact names: two panels whose
// names differ only in case or accents still get ids of their own. At most
// 200 characters, so that the longest topic and unique id stay within
// Home Assistant's 255.
QString entityId(const QString &site, const QString &panel);

// Config topic → retained payload, for every panel.
QList<QPair<QString, QByteArray>> configs(const QString &site,
                                          const QList<ServerConfig::Panel> &panels);

} // namespace mqttdiscovery
