#include "vocabulary.h"

#include <QSet>

#include <cstring>

#include <iterator>

namespace vocabulary
{
namespace
{

struct Row {
    Menu menu;
    const char *caption;
    const char *name;
    int code;
    bool prefix;
    Play play;
    int stepMs;
    unsigned shown;
};

constexpr Menu P = Menu::Prefixos, S = Menu::Sufixos, O = Menu::Outros, S1 = Menu::Sufixo;
constexpr unsigned All = Everywhere, Narrow = OnNarrow, Wide = OnWide;

// The one table. Codes are the panel's bytes; a tag without one yields no
// byte and plays nothing (the reserved tags of the hidden menus).
constexpr Row kRows[] = {
    {P, "&Roda Cima", "Roda_Cima__", 0xCC, true, Play::Chunk, 0, All},
    {P, "Roda &Baixo", "Roda__Baixo", 0xC9, true, Play::Chunk, 0, Wide},
    {P, "Roda &4", "Roda___4___", 0xC5, true, Play::Chunk, 0, Narrow},
    {P, "&Neve", "Neve_______", 0xCF, true, Play::Chunk, 0, Narrow},
    {P, "&Come", "Come_______", 0xCE, true, Play::Chunk, 0, Narrow},
    {P, "&Empurra", "Empurra____", 0xC6, true, Play::Chunk, 0, All},
    {P, "&Salta", "Salta______", 0xD0, true, Play::Chunk, 0, Narrow},
    {P, "&Atira", "Atira______", 0xD3, true, Play::Chunk, 0, Narrow},
    {P, "A&bre", "Abre_______", 0xCB, true, Play::Chunk, 0, Narrow},
    {P, "&Mostra", "Mostra_____", 0xC4, true, Play::Chunk, 0, Wide},
    {P, "&Display", "Display____", 0xCA, true, Play::Display, 0, All},
    {P, "&Onda", "Onda_______", 0xC8, true, Play::Chunk, 0, Narrow},
    {S, "Varre &Centro", "Var__Centro", 0xB9, false, Play::Hold, 0, All},
    {S, "Varre &Esquerda", "VarEsquerda", 0xB6, false, Play::Hold, 0, All},
    {S, "Varre &4", "Varre__4___", 0xBA, false, Play::Hold, 0, All},
    {S, "Varre &Baixo", "Varre_Baixo", 0xB5, false, Play::Hold, 0, All},
    {S, "Abre Cen&tro", "Abre_Centro", 0xBF, false, Play::Hold, 0, Narrow},
    {S, "Abre C&ima", "Abre_Cima__", 0xBB, false, Play::Hold, 0, Narrow},
    {S, "Abre &Direita", "AbreDireita", 0xBE, false, Play::Hold, 0, Narrow | WithoutSensor},
    {S, "&Rolagem", "Rolagem____", 0xB2, false, Play::Hold, 0, All},
    {S, "&Pisca", "Pisca______", 0xB1, false, Play::Blink, 0, All},
    {O, "&Pausa", "Pausa______", 0xB0, false, Play::Pause, 0, All},
    {O, "&Data", "Data_______", 0xDB, false, Play::Date, 0, All},
    {O, "&Hora", "Relogio____", 0xDA, false, Play::Clock, 0, All},
    {O, "Velocidade &1", "Velocidade1", 0xD4, false, Play::Speed, 300, All},
    {O, "Velocidade &2", "Velocidade2", 0xD5, false, Play::Speed, 200, All},
    {O, "Velocidade &3", "Velocidade3", 0xD6, false, Play::Speed, 150, All},
    {O, "Velocidade &4", "Velocidade4", 0xD7, false, Play::Speed, 90, All},
    {O, "Velocidade &5", "Velocidade5", 0xD8, false, Play::Speed, 60, All},
    {O, "Velocidade &6", "Velocidade6", 0xD9, false, Play::Speed, 30, All},
    {O, "&Apaga Tela", "Apaga.Tela_", -1, false, Play::None, 0, Never},
    // The panel has no temperature code of its own: it shares "Abre Direita"'s.
    {O, "&Temperatura", "Temperatura", 0xBE, false, Play::Temperature, 0, All | WithSensor},
    {S1, "&Pisca", "Pisca______", 0xB1, false, Play::Blink, 0, All},
    {S1, "Pisca &Tela", "Pisca.Tela_", -1, false, Play::None, 0, All},
    {S1, "&Segunda Linha", "Linha_2____", -1, false, Play::None, 0, All},
};

// The submenus of "&Prefixo": one effect stem each, three line variants.
constexpr struct {
    Menu menu;
    const char *stem;
} kVariantStems[] = {{Menu::Rolagem, "Rolag"}, {Menu::RodaCima, "RCima"},
                     {Menu::Neve, "Neve_"},    {Menu::VarreOnda, "VOnda"},
                     {Menu::Mostra, "Most_"},  {Menu::Display, "Disp_"}};
constexpr struct {
    const char *caption, *variant;
} kVariants[] = {{"Letra pequena Linha 1", "PeqL1"},
                 {"Letra pequena Linha 2", "PeqL2"},
                 {"Letra grande", "GrdL_"}};

QVector<Tag> build()
{
    QVector<Tag> out;
    for (const Row &r : kRows)
        out.append({r.menu, QString::fromUtf8(r.caption), QString::fromLatin1(r.name), r.code,
                    r.prefix, r.play, r.stepMs, r.shown});
    for (const auto &s : kVariantStems)
        for (const auto &v : kVariants)
            out.append({s.menu, QString::fromUtf8(v.caption),
                        QString::fromLatin1(s.stem) + u'.' + QString::fromLatin1(v.variant), -1,
                        false, Play::None, 0, All});
    return out;
}

constexpr PanelType kPanelTypeRows[kPanelTypes] = {
    {12, 12, "12 Caracteres", false, true}, {15, 15, "15 Caracteres", false, true},
    {30, 0, "30 Caracteres", true, true},   {5, 5, "5 Caracteres", false, true},
    {9, 9, "9 Caracteres", false, true},    {6, 6, "6 Caracteres", false, true},
    {0, 0, "> 30 Caracteres", true, false}, {10, 10, "10 Caracteres", false, false},
    {7, 7, "7 Caracteres", false, false},
};

} // namespace

bool Tag::showsOn(bool widePanel, bool temperatureSensor) const
{
    if (!(shown & (widePanel ? OnWide : OnNarrow))) return false;
    if ((shown & WithoutSensor) && temperatureSensor) return false;
    return !(shown & WithSensor) || temperatureSensor;
}

const QVector<Tag> &tags()
{
    static const QVector<Tag> all = build();
    return all;
}

QVector<Tag> menu(Menu which)
{
    QVector<Tag> out;
    for (const Tag &t : tags())
        if (t.menu == which) out.append(t);
    return out;
}

const Tag *find(QStringView name)
{
    for (const Tag &t : tags())
        if (t.name == name) return &t;
    return nullptr;
}

std::optional<PanelCode> panelCode(QByteArrayView latin1Name)
{
    if (latin1Name.size() != kNameLength) return std::nullopt;
    for (const Row &r : kRows)
        if (r.code >= 0 && std::memcmp(r.name, latin1Name.data(), kNameLength) == 0)
            return PanelCode{quint8(r.code), r.prefix};
    return std::nullopt;
}

const Tag *withCode(int code)
{
    for (const Tag &t : tags())
        if (t.code == code) return &t;
    return nullptr;
}

QStringList allTags()
{
    QStringList out;
    QSet<QString> seen;
    for (const Tag &t : tags())
        if (!seen.contains(t.name)) {
            seen.insert(t.name);
            out.append(t.text());
        }
    return out;
}

const PanelType *panelType(int code)
{
    return code >= 0 && code < kPanelTypes ? &kPanelTypeRows[code] : nullptr;
}

} // namespace vocabulary
