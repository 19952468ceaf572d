// letreiro-servidor: owns the panel lines and serves the web page, the API
// and the relays of the lines.
//   letreiro-servidor --config FILE                 serve
//   letreiro-servidor --config FILE --usuario NOME  set a password (stdin)
//   letreiro-servidor --config FILE --novo-token USUARIO [--nome NOME] [--validade DIAS]
//   letreiro-servidor --config FILE --tokens | --revoga-token NOME
//   letreiro-servidor --config FILE --acesso USUARIO [--sitios LISTA] [--leitura sim|nao]
#include "agendarunner.h"
#include "headoffice.h"
#include "httpapi.h"
#include "letreiroservice.h"
#include "logging.h"
#include "mqttbridge.h"
#include "openfiles.h"
#include "relayserver.h"
#include "serverconfig.h"
#include "userstore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QThreadPool>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace
{

void out(const QString &line)
{
    std::fputs((line + u'\n').toUtf8().constData(), stdout);
    std::fflush(stdout);
}

int fail(const QString &why)
{
    std::fputs((QStringLiteral("letreiro-servidor: ") + why + u'\n').toUtf8().constData(), stderr);
    return 2;
}

#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};
void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

#endif

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    std::signal(SIGPIPE, SIG_IGN);
    // A file-size limit is a full disk to the state files: a write that
    // fails, said in the log and `avisos`, not the end of the service.
    std::signal(SIGXFSZ, SIG_IGN);
    openfiles::raiseSoftLimit();
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("letreiro-servidor"));
    QCommandLineParser p;
    const QCommandLineOption config(QStringLiteral("config"), QString(), QStringLiteral("ARQUIVO"));
    const QCommandLineOption user(QStringLiteral("usuario"), QString(), QStringLiteral("NOME"));
    const QCommandLineOption token(QStringLiteral("novo-token"), QString(), QStringLiteral("USUARIO"));
    const QCommandLineOption tokenName(QStringLiteral("nome"), QString(), QStringLiteral("NOME"));
    const QCommandLineOption validity(QStringLiteral("validade"), QString(), QStringLiteral("DIAS"));
    const QCommandLineOption list(QStringLiteral("tokens"));
    const QCommandLineOption revoke(QStringLiteral("revoga-token"), QString(), QStringLiteral("NOME"));
    const QCommandLineOption access(QStringLiteral("acesso"), QString(), QStringLiteral("USUARIO"));
    const QCommandLineOption sites(QStringLiteral("sitios"), QString(), QStringLiteral("LISTA"));
    const QCommandLineOption readOnly(QStringLiteral("leitura"), QString(), QStringLiteral("SIM_NAO"));
    const QCommandLineOption help(
        QStringList{QStringLiteral("ajuda"), QStringLiteral("help"), QStringLiteral("h")});
    for (const auto &o :
         {config, user, token, tokenName, validity, list, revoke, access, sites, readOnly, help})
        p.addOption(o);
    if (!p.parse(QCoreApplication::arguments()))
        return fail(QStringLiteral("opções inválidas (letreiro-servidor --ajuda)"));
    if (p.isSet(help) || !p.isSet(config)) {
        out(QStringLiteral(
            "Uso: letreiro-servidor --config ARQUIVO\n"
            "     letreiro-servidor --config ARQUIVO --usuario NOME   (a senha na entrada padrão)\n"
            "     letreiro-servidor --config ARQUIVO --novo-token USUARIO [--nome NOME] [--validade DIAS]\n"
            "     letreiro-servidor --config ARQUIVO --tokens\n"
            "     letreiro-servidor --config ARQUIVO --revoga-token NOME\n"
            "     letreiro-servidor --config ARQUIVO --acesso USUARIO [--sitios LISTA] [--leitura sim|nao]\n"
            "        (na sede: os sítios ou grupos que o usuário alcança, todos se vazio;\n"
            "         com --leitura sim, só consulta)\n\n"
            "Serve a página e a API dos painéis; a primeira linha escrita é o endereço."));
        return p.isSet(help) ? 0 : 2;
    }
    QString error;
    const auto cfg = ServerConfig::load(p.value(config), &error);
    if (!cfg) return fail(error);
    UserStore users(cfg->usersFile);
    if (!users.load(&error)) return fail(error);

    if (p.isSet(user)) {
        std::string password;
        std::getline(std::cin, password);
        if (!password.empty() && password.back() == '\r') password.pop_back();
        if (!users.setPassword(p.value(user), QString::fromStdString(password), &error))
            return fail(error);
        out(QStringLiteral("senha de %1 gravada").arg(p.value(user)));
        return 0;
    }
    if (p.isSet(token)) {
        QDateTime expires;
        if (p.isSet(validity)) {
            bool ok = false;
            const int days = p.value(validity).toInt(&ok);
            if (!ok || days < 1 || days > 3650)
                return fail(QStringLiteral("--validade: um número de dias de 1 a 3650"));
            expires = QDateTime::currentDateTimeUtc().addDays(days);
        }
        const QString t = users.newToken(p.value(token), &error, p.value(tokenName), expires);
        if (t.isEmpty()) return fail(error);
        out(t);
        return 0;
    }
    if (p.isSet(list)) {
        QFile usage(users.usagePath());
        if (usage.open(QIODevice::ReadOnly)) users.setUsage(usage.read(1 << 20));
        const auto when = [](const QDateTime &t) {
            return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                               : QStringLiteral("-");
        };
        out(QStringLiteral("NOME\tUSUÁRIO\tFEITO\tÚLTIMO USO\tEXPIRA\tSITUAÇÃO"));
        for (const UserStore::TokenInfo &t : users.tokens())
            out(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6")
                    .arg(t.name, t.user, when(t.made), when(t.lastUsed), when(t.expires),
                         t.alive ? QStringLiteral("válido") : QStringLiteral("encerrado")));
        return 0;
    }
    if (p.isSet(access)) {
        UserStore::Access a = users.access(p.value(access));
        if (p.isSet(sites)) {
            a.sites.clear();
            for (const QString &s : p.value(sites).split(u',', Qt::SkipEmptyParts))
                if (s.trimmed() != QLatin1String("todos")) a.sites.append(s.trimmed());
        }
        if (p.isSet(readOnly)) {
            const QString v = p.value(readOnly);
            if (v != QLatin1String("sim") && v != QLatin1String("nao") && v != QStringLiteral("não"))
                return fail(QStringLiteral("--leitura: sim ou nao"));
            a.readOnly = v == QLatin1String("sim");
        }
        if (!users.setAccess(p.value(access), a, &error)) return fail(error);
        out(QStringLiteral("%1: %2%3")
                .arg(p.value(access),
                     a.sites.isEmpty() ? QStringLiteral("todos os sítios")
                                       : a.sites.join(QStringLiteral(", ")),
                     a.readOnly ? QStringLiteral(", só consulta") : QString()));
        return 0;
    }
    if (p.isSet(revoke)) {
        if (!users.revokeToken(p.value(revoke), &error)) return fail(error);
        out(QStringLiteral("token %1 revogado").arg(p.value(revoke)));
        return 0;
    }

    logging::install();
    // The spine first, then the doors, each hooked to it.
    LetreiroService service(*cfg);
    service.start();
    QList<RelayServer *> relays;
    for (const ServerConfig::Line &l : cfg->lines) {
        if (l.relayHost.isEmpty()) continue;
        auto *relay = new RelayServer(l.name, service, &service);
        relays.append(relay);
        if (const Result<> r = relay->allow(l.relayFrom); !r) return fail(r.why());
        if (const Result<> r = relay->listen(l.relayHost, l.relayPort); !r) return fail(r.why());
    }
    AgendaRunner agenda(service);
    service.startNote(agenda.start());
    std::unique_ptr<MqttBridge> mqtt;
    if (cfg->mqtt.host.isEmpty())
        service.addState(QStringLiteral("mqtt"), [] {
            return QJsonObject{{QStringLiteral("estado"), QStringLiteral("desligado")},
                               {QStringLiteral("desde"), QJsonValue()},
                               {QStringLiteral("motivo"), QStringLiteral("sem [mqtt] na configuração")},
                               {QStringLiteral("proxima_tentativa"), QJsonValue()}};
        });
    else {
        mqtt = std::make_unique<MqttBridge>(cfg->mqtt, service);
        if (!mqtt->start(&error)) return fail(error);
    }
    // The head office reads the sites from its own broker connection.
    std::unique_ptr<HeadOffice> sede;
    if (!cfg->sede.host.isEmpty()) {
        sede = std::make_unique<HeadOffice>(*cfg, service.clock(), service.stateWriter(), users);
        if (!sede->start(&error)) return fail(error);
        if (!sede->note().isEmpty()) service.startNote(sede->note());
    }
    // Declared before the API, so that they outlive it: it waits for what
    // it gave them as it goes.
    QThreadPool loginPool, previewPool, libraryPool;
    HttpApi::Pools::setServiceCounts(previewPool, libraryPool);
    HttpApi api(service, users, {&loginPool, &previewPool, &libraryPool});
    if (sede) sede->serveOn(api);
    const Result<quint16> port = api.listen(cfg->listenHost, cfg->listenPort);
    if (!port) return fail(port.why());
    const bool v6 = cfg->listenHost.contains(u':');
    out(QStringLiteral("http://%1:%2")
            .arg(v6 ? u'[' + cfg->listenHost + u']' : cfg->listenHost)
            .arg(*port));
    for (const RelayServer *relay : std::as_const(relays))
        out(QStringLiteral("repasse %1: tcp://%2:%3")
                .arg(relay->line(), cfg->line(relay->line())->relayHost)
                .arg(relay->port()));

#ifdef Q_OS_UNIX
    // SIGTERM (systemd) and SIGINT stop at once: the frame on the wire ends
    // whole, every waiting request answers "o serviço está parando", the
    // HTTP server answers what it holds and takes nothing new.
    if (::pipe(g_signalPipe) == 0) {
        std::signal(SIGTERM, onSignal);
        std::signal(SIGINT, onSignal);
        auto *n = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(n, &QSocketNotifier::activated, &app, [&api, &service] {
            api.requestStop();
            service.stop();
        });
    }
#endif
    // Out once the lines are idle and the HTTP server has answered what it
    // held; a client slow to take its answer is not waited for beyond 2 s.
    int pending = 2;
    const auto oneLess = [&pending] {
        if (--pending == 0) QCoreApplication::quit();
    };
    QObject::connect(api.events(), &HttpApiEvents::stopped, &app, oneLess);
    QObject::connect(&service, &LetreiroService::stopped, &app, [&] {
        QTimer::singleShot(2000, &app, &QCoreApplication::quit);
        oneLess();
    });
    const int status = QCoreApplication::exec();
    mqtt.reset();
    sede.reset();
    service.flush();
    if (pending > 0) {
        // A request thread still writing to a slow client holds nothing of
        // ours: the state is on disk, the lines are idle.
        std::fflush(stderr);
        std::_Exit(status);
    }
    api.stop();
    return status;
}