// The skin's fonts, chosen by index in row markup ("{f 5}"): 0 the normal text font, 1 bold,
// 2 small, 3 a heading, 4 a large heading, 5 list rows, 6 bold list rows, 7 large bold figures.
#pragma once

#include <QFont>

namespace keltra {

inline constexpr int kSkinFontCount = 8;

// The font of that index; an index out of range gives font 0.
QFont SkinFont(int index);

}  // namespace keltra
