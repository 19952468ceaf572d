#include "mqttreasons.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

namespace mqttreasons
{
namespace
{
QString hex(int reason)
{
    return QStringLiteral("0x%1").arg(reason, 2, 16, QLatin1Char('0'));
}

// The codes a broker uses to refuse a client, a publish or a subscription.
QString brokerWords(int reason)
{
    switch (reason) {
    case MQTT_RC_NOT_AUTHORIZED: return QStringLiteral("sem permissão");
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
        return QStringLiteral("usuário ou senha recusados pelo broker");
    case MQTT_RC_CLIENTID_NOT_VALID:
        return QStringLiteral("o broker recusou o identificador de cliente");
    case MQTT_RC_BANNED: return QStringLiteral("o broker baniu este cliente");
    case MQTT_RC_BAD_AUTHENTICATION_METHOD:
        return QStringLiteral("o broker não aceita este método de autenticação");
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
        return QStringLiteral("o broker não fala MQTT 5");
    case MQTT_RC_TOPIC_NAME_INVALID: return QStringLiteral("nome de tópico inválido");
    case MQTT_RC_TOPIC_FILTER_INVALID: return QStringLiteral("filtro de tópico inválido");
    case MQTT_RC_PACKET_TOO_LARGE: return QStringLiteral("mensagem grande demais para o broker");
    case MQTT_RC_QUOTA_EXCEEDED: return QStringLiteral("cota do broker excedida");
    case MQTT_RC_PAYLOAD_FORMAT_INVALID: return QStringLiteral("formato do conteúdo inválido");
    case MQTT_RC_RETAIN_NOT_SUPPORTED: return QStringLiteral("o broker não guarda mensagens retidas");
    case MQTT_RC_QOS_NOT_SUPPORTED: return QStringLiteral("o broker não aceita QoS 1");
    case MQTT_RC_SHARED_SUBS_NOT_SUPPORTED:
    case MQTT_RC_WILDCARD_SUBS_NOT_SUPPORTED:
        return QStringLiteral("o broker não aceita este filtro");
    case MQTT_RC_SERVER_UNAVAILABLE: return QStringLiteral("o broker está indisponível");
    case MQTT_RC_SERVER_BUSY: return QStringLiteral("o broker está ocupado");
    case MQTT_RC_SERVER_SHUTTING_DOWN: return QStringLiteral("o broker está parando");
    case MQTT_RC_KEEP_ALIVE_TIMEOUT: return QStringLiteral("o broker deixou de ouvir o serviço");
    // The rest a broker rarely says, but an operator reads them all the same:
    // never the library's English.
    case MQTT_RC_UNSPECIFIED: return QStringLiteral("o broker recusou sem dizer por quê");
    case MQTT_RC_MALFORMED_PACKET: return QStringLiteral("o broker não entendeu um pacote");
    case MQTT_RC_PROTOCOL_ERROR: return QStringLiteral("erro de protocolo, segundo o broker");
    case MQTT_RC_IMPLEMENTATION_SPECIFIC:
        return QStringLiteral("o broker recusou por uma regra própria");
    case MQTT_RC_SESSION_TAKEN_OVER: return QStringLiteral("outra conexão tomou a sessão");
    case MQTT_RC_PACKET_ID_IN_USE: return QStringLiteral("identificador de pacote em uso");
    case MQTT_RC_PACKET_ID_NOT_FOUND: return QStringLiteral("identificador de pacote desconhecido");
    case MQTT_RC_RECEIVE_MAXIMUM_EXCEEDED:
        return QStringLiteral("mensagens demais a caminho do broker");
    case MQTT_RC_TOPIC_ALIAS_INVALID: return QStringLiteral("apelido de tópico inválido");
    case MQTT_RC_MESSAGE_RATE_TOO_HIGH: return QStringLiteral("mensagens rápidas demais para o broker");
    case MQTT_RC_ADMINISTRATIVE_ACTION:
        return QStringLiteral("desconectado pelo administrador do broker");
    case MQTT_RC_USE_ANOTHER_SERVER: return QStringLiteral("o broker pede outro servidor");
    case MQTT_RC_SERVER_MOVED: return QStringLiteral("o broker mudou de endereço");
    case MQTT_RC_CONNECTION_RATE_EXCEEDED:
        return QStringLiteral("conexões rápidas demais para o broker");
    case MQTT_RC_MAXIMUM_CONNECT_TIME:
        return QStringLiteral("tempo máximo de conexão do broker atingido");
    case MQTT_RC_SUBSCRIPTION_IDS_NOT_SUPPORTED:
        return QStringLiteral("o broker não aceita identificadores de assinatura");
    default: return QStringLiteral("recusado pelo broker");
    }
}
} // namespace

QString refusal(int reason)
{
    return QStringLiteral("%1 (%2)").arg(brokerWords(reason), hex(reason));
}

Verdict ofLoss(int reason, const QString &detail, const QString &where, bool withUser,
               const QString &section)
{
    // The TLS library's words come first: a handshake that failed can end
    // as any of the library's errors.
    if (detail.startsWith(QLatin1String("OpenSSL")) || reason == MOSQ_ERR_TLS ||
        reason == MOSQ_ERR_TLS_HANDSHAKE) {
        const auto has = [&](const char *s) { return detail.contains(QLatin1String(s)); };
        if (has("certificate verify failed"))
            return {QStringLiteral("o certificado do broker não confere com tls_ca"), true};
        if (has("certificate required"))
            return {QStringLiteral("o broker exige um certificado de cliente "
                                   "(tls_certificado e tls_chave)"),
                    true};
        if (has("unknown ca") || has("bad certificate") || has("certificate unknown") ||
            has("certificate expired") || has("decrypt error"))
            return {QStringLiteral("o broker recusou o certificado de cliente (tls_certificado)"),
                    true};
        if (has("wrong version number") || has("packet length too long"))
            return {QStringLiteral("%1 não fala TLS").arg(where), true};
        return {QStringLiteral("falha de TLS com %1: %2")
                    .arg(where, detail.isEmpty() ? QStringLiteral("sem detalhe") : detail),
                true};
    }
    if (reason >= 0x80) {
        const bool refused = reason == MQTT_RC_BAD_USERNAME_OR_PASSWORD ||
                             reason == MQTT_RC_NOT_AUTHORIZED ||
                             reason == MQTT_RC_CLIENTID_NOT_VALID || reason == MQTT_RC_BANNED ||
                             reason == MQTT_RC_BAD_AUTHENTICATION_METHOD ||
                             reason == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION;
        const QString words =
            reason != MQTT_RC_NOT_AUTHORIZED ? brokerWords(reason)
            : withUser ? brokerWords(MQTT_RC_BAD_USERNAME_OR_PASSWORD)
                       : QStringLiteral("o broker não aceita clientes sem usuário "
                                        "(usuario e senha em [%1])")
                                     .arg(section);
        return {QStringLiteral("%1 (%2)").arg(words, hex(reason)), refused};
    }
    switch (reason) {
    case MOSQ_ERR_ERRNO:
        return {QStringLiteral("%1 não responde: %2").arg(where, detail), false};
    case MOSQ_ERR_EAI:
    case MOSQ_ERR_LOOKUP:
        return {QStringLiteral("nome do broker não encontrado: %1").arg(where), false};
    case MOSQ_ERR_CONN_REFUSED:
        return {QStringLiteral("o broker recusou a conexão"), true};
    case MOSQ_ERR_KEEPALIVE:
        return {QStringLiteral("o broker deixou de responder"), false};
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
        return {QStringLiteral("a conexão com %1 caiu").arg(where), false};
    default:
        return {QStringLiteral("a conexão com %1 caiu (%2)").arg(where, libraryError(reason)),
                false};
    }
}

QString libraryError(int code)
{
    switch (code) {
    case MOSQ_ERR_NOMEM: return QStringLiteral("memória insuficiente");
    case MOSQ_ERR_PROTOCOL:
    case MOSQ_ERR_MALFORMED_PACKET:
    case MOSQ_ERR_DUPLICATE_PROPERTY:
        return QStringLiteral("o broker respondeu fora do protocolo MQTT");
    case MOSQ_ERR_INVAL: return QStringLiteral("parâmetro inválido");
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_CONN_LOST:
        return QStringLiteral("sem conexão com o broker");
    case MOSQ_ERR_TLS: return QStringLiteral("falha de TLS");
    case MOSQ_ERR_PAYLOAD_SIZE: return QStringLiteral("mensagem grande demais");
    case MOSQ_ERR_NOT_SUPPORTED: return QStringLiteral("não suportado pela biblioteca MQTT");
    default: return QStringLiteral("erro %1 da biblioteca MQTT").arg(code);
    }
}

} // namespace mqttreasons
