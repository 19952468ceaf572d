#include "tags.h"

#include <QHash>

namespace tags
{

const QVector<Item> &items(Menu menu)
{
    static const QHash<Menu, QVector<Item>> byMenu = [] {
        QHash<Menu, QVector<Item>> out;
        for (const vocabulary::Tag &t : vocabulary::tags())
            out[t.menu].append({t.caption, t.text()});
        return out;
    }();
    static const QVector<Item> none;
    const auto it = byMenu.constFind(menu);
    return it == byMenu.constEnd() ? none : *it;
}

QString tagFor(Menu menu, int index)
{
    const QVector<Item> &v = items(menu);
    return index >= 0 && index < v.size() ? v[index].tag : QString();
}

QString controlName(Menu menu)
{
    switch (menu) {
    case Menu::Prefixos:
        return QStringLiteral("mnuprefixo");
    case Menu::Sufixos:
        return QStringLiteral("mnusufixo");
    case Menu::Outros:
        return QStringLiteral("mnuOutrosItem");
    case Menu::Sufixo:
        return QStringLiteral("mnuSufixosItem");
    case Menu::Rolagem:
        return QStringLiteral("mnurol");
    case Menu::RodaCima:
        return QStringLiteral("mnuroda");
    case Menu::Neve:
        return QStringLiteral("mnuneve");
    case Menu::VarreOnda:
        return QStringLiteral("mnuvarre");
    case Menu::Mostra:
        return QStringLiteral("mnumostra");
    case Menu::Display:
        return QStringLiteral("mnudsp");
    }
    return {};
}

QString submenuCaption(Menu menu)
{
    switch (menu) {
    case Menu::Rolagem:
        return QStringLiteral("Rola&gem");
    case Menu::RodaCima:
        return QStringLiteral("Roda &Cima");
    case Menu::Neve:
        return QStringLiteral("&Neve");
    case Menu::VarreOnda:
        return QStringLiteral("&Varre Onda");
    case Menu::Mostra:
        return QStringLiteral("&Mostra");
    case Menu::Display:
        return QStringLiteral("&Display");
    default:
        return {};
    }
}

QStringList all()
{
    return vocabulary::allTags();
}

} // namespace tags
