#include "textcheck.h"

#include "flatten.h"
#include "sendcheck.h"
#include "vocabulary.h"

namespace textcheck
{

QJsonArray warnings(const QString &text, int panelType)
{
    return QJsonArray::fromStringList(sendcheck::differences(plainMessage(text), panelType));
}

QJsonObject received(const QString &text, int panelType)
{
    const RichText message = plainMessage(text);
    const sendcheck::Received r = sendcheck::received(message, panelType);
    return {{QStringLiteral("texto"), r.text},
            {QStringLiteral("avisos"),
             QJsonArray::fromStringList(sendcheck::differences(message, panelType))},
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

} // namespace textcheck
