#include "tags.h"

#include <QSet>

namespace tags
{
namespace
{

QVector<Item> make(std::initializer_list<std::pair<const char *, const char *>> list)
{
    QVector<Item> v;
    for (const auto &[caption, tag] : list)
        v.append({QString::fromUtf8(caption), QString::fromLatin1(tag)});
    return v;
}

// The three size variants of a line-variant effect share one shape.
QVector<Item> variants(const char *stem)
{
    const QString s = QString::fromLatin1(stem);
    return {
        {QStringLiteral("Letra pequena Linha 1"), QLatin1Char('<') + s + QLatin1String(".PeqL1>")},
        {QStringLiteral("Letra pequena Linha 2"), QLatin1Char('<') + s + QLatin1String(".PeqL2>")},
        {QStringLiteral("Letra grande"), QLatin1Char('<') + s + QLatin1String(".GrdL_>")}};
}

} // namespace

const QVector<Item> &items(Menu menu)
{
    static const QVector<Item> prefixos = make({
        {"&Roda Cima", "<Roda_Cima__>"},
        {"Roda &Baixo", "<Roda__Baixo>"},
        {"Roda &4", "<Roda___4___>"},
        {"&Neve", "<Neve_______>"},
        {"&Come", "<Come_______>"},
        {"&Empurra", "<Empurra____>"},
        {"&Salta", "<Salta______>"},
        {"&Atira", "<Atira______>"},
        {"A&bre", "<Abre_______>"},
        {"&Mostra", "<Mostra_____>"},
        {"&Display", "<Display____>"},
        {"&Onda", "<Onda_______>"},
    });
    static const QVector<Item> sufixos = make({
        {"Varre &Centro", "<Var__Centro>"},
        {"Varre &Esquerda", "<VarEsquerda>"},
        {"Varre &4", "<Varre__4___>"},
        {"Varre &Baixo", "<Varre_Baixo>"},
        {"Abre Cen&tro", "<Abre_Centro>"},
        {"Abre C&ima", "<Abre_Cima__>"},
        {"Abre &Direita", "<AbreDireita>"},
        {"&Rolagem", "<Rolagem____>"},
        {"&Pisca", "<Pisca______>"},
    });
    static const QVector<Item> outros = make({
        {"&Pausa", "<Pausa______>"},
        {"&Data", "<Data_______>"},
        {"&Hora", "<Relogio____>"},
        {"Velocidade &1", "<Velocidade1>"},
        {"Velocidade &2", "<Velocidade2>"},
        {"Velocidade &3", "<Velocidade3>"},
        {"Velocidade &4", "<Velocidade4>"},
        {"Velocidade &5", "<Velocidade5>"},
        {"Velocidade &6", "<Velocidade6>"},
        {"&Apaga Tela", "<Apaga.Tela_>"},
        {"&Temperatura", "<Temperatura>"},
    });
    static const QVector<Item> sufixo = make({
        {"&Pisca", "<Pisca______>"},
        {"Pisca &Tela", "<Pisca.Tela_>"},
        {"&Segunda Linha", "<Linha_2____>"},
    });
    static const QVector<Item> rol = variants("Rolag"), roda = variants("RCima"),
                               neve = variants("Neve_"), varre = variants("VOnda"),
                               mostra = variants("Most_"), dsp = variants("Disp_");
    switch (menu) {
    case Menu::Prefixos:
        return prefixos;
    case Menu::Sufixos:
        return sufixos;
    case Menu::Outros:
        return outros;
    case Menu::Sufixo:
        return sufixo;
    case Menu::Rolagem:
        return rol;
    case Menu::RodaCima:
        return roda;
    case Menu::Neve:
        return neve;
    case Menu::VarreOnda:
        return varre;
    case Menu::Mostra:
        return mostra;
    case Menu::Display:
        return dsp;
    }
    return prefixos;
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
    QStringList out;
    QSet<QString> seen;
    for (int m = int(Menu::Prefixos); m <= int(Menu::Display); ++m) {
        for (const Item &i : items(Menu(m))) {
            if (!seen.contains(i.tag)) {
                seen.insert(i.tag);
                out.append(i.tag);
            }
        }
    }
    return out;
}

} // namespace tags
