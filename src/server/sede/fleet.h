#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

// What the head office knows of every site, from what the sites publish
// (retained) on the broker:
//   letreiro/SITE/estado          online | offline (its last will) | sem leitura
//   letreiro/SITE/paineis         {"quando", "intervalo", "paineis": [{"painel",
//                                  "tipo", "largura", "linha"}]}, again every
//                                  `intervalo` seconds while the site is up
//   letreiro/SITE/PAINEL/estado   {"ok", "resultado", "motivo"?, "quando", "texto"}
// Times are the head office's own (epoch ms, given), so that a site with a
// wrong clock is still judged right.
class Fleet
{
public:
    // Bounds against a broker anyone may publish on: sites, panels a site,
    // and the characters of a panel's text kept (more than any frame carries).
    static constexpr int kMaxSites = 2000;
    static constexpr int kMaxPanels = 64;
    static constexpr int kMaxTextChars = 1024;

    struct Panel {
        QString name, line;
        int type = 0, width = 0;
        QJsonObject state; // its last exchange, as the site published it
    };
    struct Site {
        QString name;
        enum class Presence { Never, Online, Offline, Deaf } presence = Presence::Never;
        qint64 presenceSinceMs = 0; // when the head office heard it; 0: from before it started
        qint64 lastSeenMs = 0;      // anything from the site; 0: never
        QList<Panel> panels;
    };

    // `expected`: the sites the configuration names (never seen until they
    // publish); `staleMs`: online but silent that long is out of date.
    Fleet(const QStringList &expected, qint64 staleMs);

    // A message from the broker; false when the topic is none of the above
    // or past a bound (and nothing changed). A retained one is as old as
    // the site's own "quando" says, not now.
    bool take(const QString &topic, const QByteArray &payload, bool retained, qint64 nowMs);

    // online, offline, "nunca visto", desatualizado or "sem leitura".
    QString stateWord(const Site &s, qint64 nowMs) const;
    bool isOnline(const QString &site, qint64 nowMs) const;
    const Site *site(const QString &name) const;
    QStringList siteNames() const { return m_sites.keys(); }

    // Every site `allowed` lets through, the offline first: {"sitio",
    // "estado", "desde", "visto_ha", "paineis", "pior"}.
    QJsonArray sitesJson(qint64 nowMs, const std::function<bool(const QString &)> &allowed) const;
    // One site and its panels: {"sitio", "estado", "desde", "visto_ha",
    // "paineis": [{"painel", "tipo", "largura", "linha", "ultimo"}]}.
    QJsonObject siteJson(const Site &s, qint64 nowMs) const;
    // The worst last result among a site's panels ("" with none).
    static QString worst(const Site &s);

private:
    Site *siteFor(const QString &name);
    QMap<QString, Site> m_sites;
    qint64 m_staleMs;
};
