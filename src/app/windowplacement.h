#pragma once

#include <QRect>

class QWidget;

// The main window's place and size, kept in twips (1440 to the inch) in
// section "Settings" of the per-user store, as operators' machines already
// hold them.
namespace windowplacement
{

constexpr int kDefaultLeft = 1000, kDefaultTop = 1000, kDefaultWidth = 6500, kDefaultHeight = 6500;

int twipsToPixels(int twips, int dpi);
int pixelsToTwips(int pixels, int dpi);

// The stored placement, or the defaults at first start, where the window
// is also made at least firstStartWidth wide.
void restore(QWidget &window, int firstStartWidth = 0);
void store(const QWidget &window);

} // namespace windowplacement
