#include "toolbar.h"

#include <QAction>
#include <QIcon>
#include <QToolBar>

// The icons live in this static library; the linker would drop them unless
// something here refers to them.
static void initIcons()
{
    Q_INIT_RESOURCE(icons);
}

const QVector<ToolbarButton> &toolbarButtons()
{
    static const QVector<ToolbarButton> buttons = {
        {QStringLiteral("New"), QStringLiteral("Novo"), QStringLiteral("New")},
        {QStringLiteral("Open"), QStringLiteral("Abrir"), QStringLiteral("Open")},
        {QStringLiteral("Save"), QStringLiteral("Salvar"), QStringLiteral("Save")},
        {QStringLiteral("Print"), QStringLiteral("Imprimir"), QStringLiteral("Print")},
        {QStringLiteral("Cut"), QStringLiteral("Recortar"), QStringLiteral("Cut")},
        {QStringLiteral("Copy"), QStringLiteral("Copiar"), QStringLiteral("Copy")},
        {QStringLiteral("Paste"), QStringLiteral("Colar"), QStringLiteral("Paste")},
        {QStringLiteral("sim"), QStringLiteral("Simulação"), QStringLiteral("sim")},
        {QStringLiteral("verde"), QStringLiteral("Verde"), QStringLiteral("verde")},
        {QStringLiteral("vermelho"), QStringLiteral("vermelho"), QStringLiteral("vermelho")},
        {QStringLiteral("laranja"), QStringLiteral("laranja"), QStringLiteral("laranja")},
        {QStringLiteral("iris"), QStringLiteral("Arco Íris"), QStringLiteral("arco")},
        {QStringLiteral("Para"), QStringLiteral("Para"), QStringLiteral("para")},
        {QStringLiteral("Apaga"), QStringLiteral("Apaga"), QStringLiteral("apaga")},
        {QStringLiteral("Inicia"), QStringLiteral("Inicia"), QStringLiteral("inicia")},
        {QStringLiteral("Transfere"), QStringLiteral("Transfere"), QStringLiteral("trans")},
        {QStringLiteral("Hora"), QStringLiteral("Hora"), QStringLiteral("hora")},
        {QStringLiteral("Data"), QStringLiteral("Data"), QStringLiteral("data")},
        {QStringLiteral("Debug"), QStringLiteral("Debug"), QStringLiteral("debug")},
        {QStringLiteral("Dica"), QStringLiteral("Dica"), QStringLiteral("dica")},
    };
    return buttons;
}

QToolBar *buildToolbar(QWidget *parent, const std::function<void(const QString &)> &onClick,
                       QVector<QAction *> *buttons)
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
        QAction *a =
            bar->addAction(QIcon(QStringLiteral(":/icons/%1.svg").arg(b.image)), b.tooltip);
        a->setObjectName(QStringLiteral("tb") + b.key);
        a->setToolTip(b.tooltip);
        a->setProperty("key", b.key);
        const QString key = b.key;
        QObject::connect(a, &QAction::triggered, bar, [onClick, key] { onClick(key); });
        buttons->append(a);
        for (int i = 0; i < separatorsAfter.value(b.key); ++i)
            buttons->append(bar->addSeparator());
    }
    return bar;
}
