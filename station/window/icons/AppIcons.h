// Application icons of Korvane and Quorvel for desktop launchers, drawn on a 256-unit grid and
// rendered at each size of the hicolor icon theme.
#pragma once

#include <QImage>
#include <QString>

#include <vector>

namespace AppIcons
{
// The square pixel sizes installed under share/icons/hicolor, smallest first.
const std::vector<int> &sizes();

// The icon names, which are also the program and desktop entry names.
const std::vector<QString> &names();

// One icon at one size; a null image for an unknown name. Below 32 pixels the finer strokes are left
// out so that the shape stays readable.
QImage render(const QString &name, int size);
}
