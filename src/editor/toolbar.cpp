#include "toolbar.h"

#include "menubar.h"

#include <QAction>
#include <QIcon>
#include <QToolBar>
#include <QToolButton>

// The icons live in this static library; the linker would drop them unless
// something here refers to them.
static void initIcons()
{
    Q_INIT_RESOURCE(icons);
}

const QVector<ToolbarButton> &toolbarButtons()
{
    static const QVector<ToolbarButton> buttons = {
        {QStringLiteral("New"), QStringLiteral("Novo"), QStringLiteral("New"),
         &MenuBarActions::mnunovo},
        {QStringLiteral("Open"), QStringLiteral("Abrir"), QStringLiteral("Open"),
         &MenuBarActions::mnuabre},
        {QStringLiteral("Save"), QStringLiteral("Salvar"), QStringLiteral("Save"),
         &MenuBarActions::mnusalva},
        {QStringLiteral("Print"), QStringLiteral("Imprimir"), QStringLiteral("Print"),
         &MenuBarActions::mnuimp},
        {QStringLiteral("Cut"), QStringLiteral("Recortar"), QStringLiteral("Cut"),
         &MenuBarActions::mnucortar},
        {QStringLiteral("Copy"), QStringLiteral("Copiar"), QStringLiteral("Copy"),
         &MenuBarActions::mnucopiar},
        {QStringLiteral("Paste"), QStringLiteral("Colar"), QStringLiteral("Paste"),
         &MenuBarActions::mnucolar},
        {QStringLiteral("sim"), QStringLiteral("Simulação"), QStringLiteral("sim"),
         &MenuBarActions::mnusim},
        {QStringLiteral("verde"), QStringLiteral("Verde"), QStringLiteral("verde"),
         &MenuBarActions::mnuverde},
        {QStringLiteral("vermelho"), QStringLiteral("vermelho"), QStringLiteral("vermelho"),
         &MenuBarActions::mnuvermelho},
        {QStringLiteral("laranja"), QStringLiteral("laranja"), QStringLiteral("laranja"),
         &MenuBarActions::mnularanja},
        {QStringLiteral("iris"), QStringLiteral("Arco Íris"), QStringLiteral("arco"),
         &MenuBarActions::mnuiris},
        {QStringLiteral("Para"), QStringLiteral("Para"), QStringLiteral("para"),
         &MenuBarActions::mnupara},
        {QStringLiteral("Apaga"), QStringLiteral("Apaga"), QStringLiteral("apaga"),
         &MenuBarActions::mnuapaga},
        {QStringLiteral("Inicia"), QStringLiteral("Inicia"), QStringLiteral("inicia"),
         &MenuBarActions::mnuinicia},
        {QStringLiteral("Transfere"), QStringLiteral("Transfere"), QStringLiteral("trans"),
         &MenuBarActions::mnutransfere},
        {QStringLiteral("Hora"), QStringLiteral("Hora"), QStringLiteral("hora"),
         &MenuBarActions::mnuhora},
        {QStringLiteral("Data"), QStringLiteral("Data"), QStringLiteral("data"),
         &MenuBarActions::mnudata},
        {QStringLiteral("Debug"), QStringLiteral("Debug"), QStringLiteral("debug"),
         &MenuBarActions::mnudebug},
        {QStringLiteral("Dica"), QStringLiteral("Dica"), QStringLiteral("dica"),
         &MenuBarActions::mnudica},
    };
    return buttons;
}

QToolBar *buildToolbar(QWidget *parent, MenuBarActions &menus)
{
    initIcons();
    auto *bar = new QToolBar(parent);
    bar->setObjectName(QStringLiteral("tbToolBar"));
    bar->setWindowTitle(QStringLiteral("Ferramentas"));
    bar->setMovable(false);
    bar->setIconSize(QSize(24, 24));
    // Separators follow these keys: one, one, one, two, two and two.
    const QHash<QString, int> separatorsAfter = {
        {QStringLiteral("Save"), 1}, {QStringLiteral("Print"), 1}, {QStringLiteral("Paste"), 1},
        {QStringLiteral("sim"), 2},  {QStringLiteral("iris"), 2},  {QStringLiteral("Data"), 2}};
    for (const ToolbarButton &b : toolbarButtons()) {
        QAction *a = menus.*b.command;
        a->setIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(b.image)));
        a->setIconVisibleInMenu(false); // the menus look as they always did
        a->setToolTip(b.tooltip);
        a->setProperty("key", b.key);
        bar->addAction(a);
        bar->widgetForAction(a)->setObjectName(QStringLiteral("tb") + b.key);
        for (int i = 0; i < separatorsAfter.value(b.key); ++i)
            bar->addSeparator();
    }
    return bar;
}
