#include "menubar.h"

#include "recentfiles.h"

#include <QMenu>
#include <QMenuBar>

namespace
{

QMenu *menu(QMenuBar *bar, const char *name, const QString &caption)
{
    QMenu *m = bar->addMenu(caption);
    m->setObjectName(QLatin1String(name));
    m->menuAction()->setObjectName(QLatin1String(name));
    return m;
}

// A menu that is never on the bar: its commands are reached by code only.
// It belongs to the bar but is not added to it, since a menu on the bar
// claims its Alt letter even while hidden ("&Cor" would take Alt+C from
// "&Caracter").
QMenu *hiddenMenu(QMenuBar *bar, const char *name, const QString &caption)
{
    auto *m = new QMenu(caption, bar);
    m->setObjectName(QLatin1String(name));
    m->menuAction()->setObjectName(QLatin1String(name));
    m->menuAction()->setVisible(false);
    return m;
}

QAction *item(QMenu *m, const char *name, const QString &caption)
{
    QAction *a = m->addAction(caption);
    a->setObjectName(QLatin1String(name));
    return a;
}

QVector<QAction *> tagItems(QMenu *m, tags::Menu which)
{
    QVector<QAction *> out;
    const QVector<tags::Item> &list = tags::items(which);
    for (int i = 0; i < list.size(); ++i) {
        QAction *a = m->addAction(list[i].caption);
        a->setObjectName(tags::controlName(which));
        a->setData(i);
        out.append(a);
    }
    return out;
}

} // namespace

MenuBarActions buildMenuBar(QMenuBar *bar)
{
    MenuBarActions m{};
    m.mnuFile = menu(bar, "mnuFile", QStringLiteral("&Arquivo"));
    m.mnunovo = item(m.mnuFile, "mnunovo", QStringLiteral("&Novo"));
    m.mnuabre = item(m.mnuFile, "mnuabre", QStringLiteral("&Abre"));
    m.mnusalva = item(m.mnuFile, "mnusalva", QStringLiteral("&Salvar"));
    m.mnusalvacomo = item(m.mnuFile, "mnusalvacomo", QStringLiteral("Salvar &Como"));
    m.mnuFile->addSeparator();
    m.mnuimp = item(m.mnuFile, "mnuimp", QStringLiteral("&Imprimir"));
    m.mnuFile->addSeparator();
    m.mnuconfig = item(m.mnuFile, "mnuconfig", QStringLiteral("C&onfigurar"));
    m.recentSeparator = m.mnuFile->addSeparator();
    m.recentSeparator->setVisible(false);
    for (int i = 0; i < recentfiles::kMax; ++i) {
        QAction *a = item(m.mnuFile, "mnurecente", QString());
        a->setVisible(false);
        m.recentFiles.append(a);
    }
    m.mnuFile->addSeparator();
    m.mnuFileExit = item(m.mnuFile, "mnuFileExit", QStringLiteral("Sai&r"));
    m.mnunovo->setShortcut(QKeySequence::New);
    m.mnuabre->setShortcut(QKeySequence::Open);
    m.mnusalva->setShortcut(QKeySequence::Save);
    m.mnuimp->setShortcut(QKeySequence::Print);

    m.mnueditar = menu(bar, "mnueditar", QStringLiteral("&Editar"));
    m.mnudesfazer = item(m.mnueditar, "mnudesfazer", QStringLiteral("&Desfazer"));
    m.mnudesfazer->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    m.mnurefazer = item(m.mnueditar, "mnurefazer", QStringLiteral("&Refazer"));
    m.mnurefazer->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
    m.mnueditar->addSeparator();
    m.mnucortar = item(m.mnueditar, "mnucortar", QStringLiteral("&Recortar"));
    m.mnucopiar = item(m.mnueditar, "mnucopiar", QStringLiteral("&Copiar"));
    m.mnucolar = item(m.mnueditar, "mnucolar", QStringLiteral("C&olar"));

    m.mnuvisu = menu(bar, "mnuvisu", QStringLiteral("&Visualizar"));
    m.mnusim = item(m.mnuvisu, "mnusim", QStringLiteral("&Simulação"));
    m.mnuferra = item(m.mnuvisu, "mnuferra", QStringLiteral("&Ferramentas"));
    m.mnustatus = item(m.mnuvisu, "mnustatus", QStringLiteral("&Status"));
    for (QAction *a : {m.mnuferra, m.mnustatus}) {
        a->setCheckable(true);
        a->setChecked(true);
    }

    // The colour commands are reached through the toolbar only.
    m.mnucor = hiddenMenu(bar, "mnucor", QStringLiteral("&Cor"));
    m.mnuverde = item(m.mnucor, "mnuverde", QStringLiteral("&Verde"));
    m.mnuvermelho = item(m.mnucor, "mnuvermelho", QStringLiteral("Ver&melho"));
    m.mnularanja = item(m.mnucor, "mnularanja", QStringLiteral("&Laranja"));
    m.mnuiris = item(m.mnucor, "mnuiris", QStringLiteral("Arco &Iris"));

    // Reserved tags: their commands exist, their menus are never shown.
    m.mnuprefixos = hiddenMenu(bar, "mnuprefixos", QStringLiteral("&Prefixo"));
    for (tags::Menu sub : {tags::Menu::Rolagem, tags::Menu::RodaCima, tags::Menu::Neve,
                           tags::Menu::VarreOnda, tags::Menu::Mostra, tags::Menu::Display}) {
        QMenu *s = m.mnuprefixos->addMenu(tags::submenuCaption(sub));
        s->setObjectName(tags::controlName(sub) + QLatin1String("menu"));
        m.tagItems.insert(sub, tagItems(s, sub));
    }
    m.mnusufixos = hiddenMenu(bar, "mnusufixos", QStringLiteral("&Sufixo"));
    m.tagItems.insert(tags::Menu::Sufixo, tagItems(m.mnusufixos, tags::Menu::Sufixo));

    m.mnuprefi = menu(bar, "mnuprefi", QStringLiteral("&Prefixos"));
    m.tagItems.insert(tags::Menu::Prefixos, tagItems(m.mnuprefi, tags::Menu::Prefixos));
    m.mnusufix = menu(bar, "mnusufix", QStringLiteral("&Sufixos"));
    m.tagItems.insert(tags::Menu::Sufixos, tagItems(m.mnusufix, tags::Menu::Sufixos));
    m.mnuoutros = menu(bar, "mnuoutros", QStringLiteral("&Outros"));
    m.tagItems.insert(tags::Menu::Outros, tagItems(m.mnuoutros, tags::Menu::Outros));

    m.mnucar = menu(bar, "mnucar", QStringLiteral("&Caracter"));
    m.mnunormal = item(m.mnucar, "mnunormal", QStringLiteral("&Normal"));
    m.mnuexp = item(m.mnucar, "mnuexp", QStringLiteral("&Expandido"));

    m.mnutrans = menu(bar, "mnutrans", QStringLiteral("&Transmissão"));
    m.mnupara = item(m.mnutrans, "mnupara", QStringLiteral("&Para"));
    m.mnuapaga = item(m.mnutrans, "mnuapaga", QStringLiteral("&Apaga"));
    m.mnuinicia = item(m.mnutrans, "mnuinicia", QStringLiteral("&Inicia"));
    m.mnutransfere = item(m.mnutrans, "mnutransfere", QStringLiteral("&Transfere"));
    m.mnuhora = item(m.mnutrans, "mnuhora", QStringLiteral("Acerta &Hora"));
    m.mnudata = item(m.mnutrans, "mnudata", QStringLiteral("Acerta &Data"));

    m.mnuWindow = menu(bar, "mnuWindow", QStringLiteral("&Janela"));
    m.mnudica = item(m.mnuWindow, "mnudica", QStringLiteral("D&ica"));
    m.mnudebug = item(m.mnuWindow, "mnudebug", QStringLiteral("&Debug"));
    m.mnuajuda = item(m.mnuWindow, "mnuajuda", QStringLiteral("Aj&uda"));
    m.mnuajuda->setShortcut(QKeySequence(Qt::Key_F1));
    m.mnuHelpAbout = item(m.mnuWindow, "mnuHelpAbout", QStringLiteral("Sob&re"));
    m.mnuWindow->addSeparator();
    m.mnuWindowCascade = item(m.mnuWindow, "mnuWindowCascade", QStringLiteral("&Cascata"));
    m.mnuWindowTileHorizontal =
        item(m.mnuWindow, "mnuWindowTileHorizontal", QStringLiteral("&Horizontal"));
    m.mnuWindowTileVertical =
        item(m.mnuWindow, "mnuWindowTileVertical", QStringLiteral("&Vertical"));
    m.mnuWindow->addSeparator(); // the window list goes after it

    return m;
}

void applyMenuVisibility(MenuBarActions &menus, const MenuVisibility &v)
{
    for (const auto &[menu, shown] :
         {std::pair{tags::Menu::Prefixos, &v.prefixos}, std::pair{tags::Menu::Sufixos, &v.sufixos},
          std::pair{tags::Menu::Outros, &v.outros}}) {
        const QVector<QAction *> &items = menus.tagItems[menu];
        for (int i = 0; i < items.size(); ++i)
            items[i]->setVisible(shown->value(i, true));
    }
}
