#include "metrics.h"

#include "letreiroservice.h"
#include "prometheus.h"

#include <QJsonArray>
#include <QJsonObject>

namespace metrics
{

QByteArray site(const LetreiroService &service)
{
    PrometheusText m;
    // Every word of the vocabulary, at 0 too: a rule over a series that
    // appears only once it happens cannot tell "never" from "not scraped".
    const QStringList words{QStringLiteral("enviado"),  QStringLiteral("falhou"),
                            QStringLiteral("substituído"), QStringLiteral("expirado"),
                            QStringLiteral("recusado"), QStringLiteral("parando")};
    m.family("letreiro_paineis", "gauge", "Painéis do sítio pelo último resultado (nenhum: ainda sem envio).");
    QHash<QString, int> last;
    for (const QJsonValue &v : service.panelsJson()) {
        const QJsonValue u = v.toObject().value(QStringLiteral("ultimo"));
        ++last[u.isObject() ? u.toObject().value(QStringLiteral("resultado")).toString()
                            : QStringLiteral("nenhum")];
    }
    for (const QString &w : words + QStringList{QStringLiteral("nenhum")})
        m.sample("letreiro_paineis", {{"resultado", w}}, last.value(w));
    m.family("letreiro_envios_total", "counter", "Partes de envios a um painel desde o início, pelo resultado.");
    const QMap<QString, qint64> sent = service.sendCounts();
    for (const QString &w : words)
        m.sample("letreiro_envios_total", {{"resultado", w}}, double(sent.value(w)));
    const QJsonObject state = service.stateJson();
    m.family("letreiro_linha_fila", "gauge", "Pedidos esperando na fila de cada linha.");
    for (const QJsonValue &v : state.value(QStringLiteral("linhas")).toArray())
        m.sample("letreiro_linha_fila", {{"linha", v.toObject().value(QStringLiteral("nome")).toString()}},
                 v.toObject().value(QStringLiteral("fila")).toInt());
    const QString link = state.value(QStringLiteral("mqtt")).toObject().value(QStringLiteral("estado")).toString();
    m.family("letreiro_mqtt_conectado", "gauge", "1 quando a ligação ao broker MQTT está de pé.");
    m.sample("letreiro_mqtt_conectado", {{"estado", link}}, link == QLatin1String("conectado") ? 1 : 0);
    return m.text();
}

} // namespace metrics
