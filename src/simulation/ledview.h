#pragma once

#include "ledpainter.h"

#include <QWidget>

#include <functional>

// The panel view of a simulation window ("rtfText"): W cells of round LEDs.
// A thin painter over the engine's cells; right-click offers the recording
// of what was played as an animation.
class LedView : public QWidget
{
    Q_OBJECT
public:
    explicit LedView(int cells, QWidget *parent = nullptr);

    void setCells(const PanelCells &cells);
    const PanelCells &cellsShown() const { return m_cells; }
    int cellCount() const { return m_cellCount; }

    // What "Salvar animação…" calls.
    std::function<void()> saveAnimation;

protected:
    void paintEvent(QPaintEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;

private:
    int m_cellCount;
    PanelCells m_cells;
    LedPainter m_painter;
};
