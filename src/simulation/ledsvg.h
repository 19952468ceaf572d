#pragma once

#include "ledlayout.h"

#include <QByteArray>
#include <QVector>

// One state of the panel and when it began, in seconds.
struct LedState {
    double t = 0;
    PanelCells cells;
};

// The states as an animated SVG that plays in any browser without scripts
// and loops like the panel: the unlit dots once, in one dim fill, then one
// <g> per state in time order (its start in data-t), shown from its start to
// the next state's by SMIL. A state's lit dots are <circle>s in the cell's
// colour; each character's dots are one shared <g> of circles in <defs>,
// which the states <use>, so that a minute of a 30-cell panel stays small.
// `duration` is the length of one loop in seconds.
QByteArray ledAnimationSvg(const QVector<LedState> &states, double duration, int cells);

// The colour as "#RRGGBB".
QByteArray svgColour(ColourRef colour);
