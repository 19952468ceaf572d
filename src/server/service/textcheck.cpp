#include "textcheck.h"

#include "flatten.h"
#include "schedule.h"
#include "sendcheck.h"
#include "vocabulary.h"

namespace textcheck
{

QStringList differences(const RichText &message, int panelType)
{
    return sendcheck::differences(message, panelType);
}

QJsonArray warnings(const QString &text, int panelType)
{
    return warnings(plainMessage(text), panelType);
}

QJsonArray warnings(const RichText &message, int panelType)
{
    return QJsonArray::fromStringList(sendcheck::differences(message, panelType));
}

QJsonArray withWarnings(QJsonArray entries, const std::function<int(const QString &)> &typeOf)
{
    for (QJsonValueRef v : entries) {
        QJsonObject e = v.toObject();
        if (!e.contains(QStringLiteral("texto"))) continue;
        const QString first = e.value(QStringLiteral("paineis")).toString().section(u',', 0, 0);
        const QJsonArray w =
            warnings(e.value(QStringLiteral("texto")).toString(), typeOf(first.trimmed()));
        if (w.isEmpty()) continue;
        e.insert(QStringLiteral("avisos"), w);
        v = e;
    }
    return entries;
}

QJsonObject received(const QString &text, int panelType)
{
    const RichText message = plainMessage(text);
    const sendcheck::Received r = sendcheck::received(message, panelType);
    return {{QStringLiteral("texto"), r.text},
            {QStringLiteral("avisos"), warnings(message, panelType)},
            {QStringLiteral("caracteres"), r.used},
            {QStringLiteral("limite"), r.limit}};
}

RichText shown(const QString &text, int panelType)
{
    return typedMessage(sendcheck::received(plainMessage(text), panelType).text);
}

QJsonArray effectMenus()
{
    using vocabulary::Menu;
    QJsonArray out;
    for (const auto &[menu, caption] :
         {std::pair{Menu::Prefixos, "Prefixos"}, std::pair{Menu::Sufixos, "Sufixos"},
          std::pair{Menu::Outros, "Outros"}}) {
        QJsonArray effects;
        for (const vocabulary::Tag &t : vocabulary::menu(menu)) {
            // The service knows of no temperature sensor on its panels.
            QJsonArray types;
            for (int code = 0; code < vocabulary::kPanelTypes; ++code)
                if (t.code >= 0 && t.showsOn(vocabulary::panelType(code)->wide, false))
                    types.append(code);
            if (types.isEmpty()) continue;
            effects.append(QJsonObject{{QStringLiteral("tag"), t.text()},
                                       {QStringLiteral("legenda"), QString(t.caption).remove(u'&')},
                                       {QStringLiteral("tipos"), types}});
        }
        out.append(QJsonObject{{QStringLiteral("menu"), QString::fromLatin1(caption)},
                               {QStringLiteral("efeitos"), effects}});
    }
    return out;
}

QJsonArray commandTable()
{
    QJsonArray commands;
    for (const PanelCommand &c : panelCommands())
        commands.append(QJsonObject{{QStringLiteral("nome"), c.name},
                                    {QStringLiteral("linha_toda"), c.wholeLine}});
    return commands;
}

} // namespace textcheck
