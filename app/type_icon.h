// The picture a file without a thumbnail is shown with: a sheet with a folded corner, coloured
// by its category, its extension written across it (a folder gets a folder). Drawn, so that it
// looks the same whatever icon theme the desktop has.
#pragma once

#include <QImage>
#include <QString>

namespace keltra {

// `category` indexes kCategoryNames; `edge` is the square's side in pixels.
QImage TypeIcon(const QString& extension, int category, bool folder, int edge);

}  // namespace keltra
