#pragma once

#include "ledlayout.h"

#include <QByteArray>
#include <QVector>

#include <optional>

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
//
// A message that repeats is written as what it shows until its repeating
// part begins (once) and one round of that part, looped for ever; the root
// says how long the round is in `data-periodo` (and when it begins in
// `data-inicio`, when that is not 0). The browser's work then follows how
// often the picture changes in one round, not how long the span was.
struct LedLoop {
    double start = 0;  // seconds
    double period = 0; // seconds
};
QByteArray ledAnimationSvg(const QVector<LedState> &states, double duration, int cells,
                           const std::optional<LedLoop> &loop = std::nullopt);

// The colour as "#RRGGBB".
QByteArray svgColour(ColourRef colour);
