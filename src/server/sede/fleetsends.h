#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

// The head office's sends: one message per panel, each with its own
// Correlation Data and Message Expiry, and a row per panel that moves from
// "aguardando" to the site's answer (enviado, falhou, substituído,
// expirado, recusado, parando) or "sem resposta" when its deadline passes.
// Times are epoch milliseconds given by the caller (the injected clock).
class FleetSends
{
public:
    // Sends kept, for the page and the audit (the oldest finished go first),
    // and panels one send reaches at most.
    static constexpr int kKept = 200;
    static constexpr int kMaxRows = 10000;
    // Sends still waiting for answers at once; beyond, the next is refused.
    static constexpr int kMaxOpen = 32;
    // An answer comes once the panel's frame is done: a frame that started
    // just before the message's expiry still answers this long after it
    // (or the validity itself, when shorter).
    static constexpr qint64 kAnswerGraceMs = 60 * 1000;

    struct Target {
        QString site, panel;
        bool siteOnline = true;
    };
    struct Row {
        QString site, panel;
        QString result = QStringLiteral("aguardando");
        QString reason;
        bool waitingForSite = false; // the site was away when it was sent
        bool final = false;
        // Random, in its Correlation Data: a site answers only for rows it
        // was sent, never for another site's.
        QByteArray token;
    };
    struct Send {
        QString id, who, kind, value, repeatOf;
        qint64 whenMs = 0, expiresMs = 0, deadlineMs = 0;
        QList<Row> rows;
        QStringList notes; // what it left out ("avisos")
        int open = 0;      // rows not final
    };
    // Publishes one panel's message: its topic, payload, Correlation Data
    // and Message Expiry in seconds.
    using Publish = std::function<void(const QString &topic, const QByteArray &payload,
                                       const QByteArray &correlation, qint64 expirySeconds)>;
    // Called whenever a send's rows changed, and once with it whole (final).
    using Changed = std::function<void(const Send &)>;

    FleetSends(qint64 validityMs, Publish publish, Changed changed);

    // The sends a start gives back (the audit's), rows still waiting included.
    void restore(const QList<Send> &sends);

    // kind: "texto" or "comando" (a library message goes as its text).
    // Empty with `why` set when refused (too many panels, too many open).
    QString start(const QString &who, const QString &kind, const QString &value,
                  const QList<Target> &targets, qint64 nowMs, QString *why,
                  const QString &repeatOf = {}, const QStringList &notes = {});
    // The same again, only for the rows that did not end `enviado`.
    QString repeat(const QString &id, const QString &who, qint64 nowMs,
                   const std::function<bool(const QString &site)> &online, QString *why);
    // A site's answer, on the head office's answer topic.
    bool answer(const QByteArray &correlation, const QByteArray &payload);
    // The broker would not take a row's message (its PUBACK said no): the
    // row ends `recusado` with why, since no site will ever answer it.
    bool refusedByBroker(const QByteArray &correlation, const QString &why);
    // Rows past their deadline become "sem resposta"; the next deadline
    // (epoch ms) or 0 when nothing waits.
    qint64 expire(qint64 nowMs);

    const Send *send(const QString &id) const;
    const std::deque<Send> &sends() const { return m_sends; }
    // {"id", "quem", "quando", "tipo", "valor", "expira", "repete"?, "resumo",
    //  "contagem", "linhas": [{"sitio", "painel", "resultado", "motivo"?}]}
    // `audit`: as the audit file keeps it, with each row's token.
    static QJsonObject json(const Send &s, bool withRows = true, bool audit = false);
    static QString rollUp(const Send &s);
    // Counts of final rows by result, since the start (for /metrics).
    const QHash<QString, qint64> &totals() const { return m_totals; }

private:
    Send *find(const QString &id);
    // The row a correlation names, when it still waits and its token is right.
    std::pair<Send *, Row *> waiting(const QByteArray &correlation);
    void settle(Send &s, Row &row, const QString &result, const QString &reason);

    qint64 m_validityMs;
    Publish m_publish;
    Changed m_changed;
    std::deque<Send> m_sends;
    QHash<QString, qint64> m_totals;
    quint64 m_counter = 0;
};
