#include "ledview.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>

LedView::LedView(int cells, QWidget *parent) : QWidget(parent), m_cellCount(cells), m_cells(cells)
{
    setObjectName(QStringLiteral("rtfText"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void LedView::setCells(const PanelCells &cells)
{
    if (cells == m_cells) return;
    m_cells = cells;
    update();
}

void LedView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    m_painter.paint(p, LedLayout(m_cellCount, QSizeF(size())), m_cells);
}

void LedView::contextMenuEvent(QContextMenuEvent *e)
{
    if (!saveAnimation) return;
    QMenu menu(this);
    menu.addAction(QStringLiteral("Salvar animação…"), this, [this] { saveAnimation(); });
    menu.exec(e->globalPos());
}
