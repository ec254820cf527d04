#include "app/ui/skin_fonts.h"

#include <QApplication>

namespace keltra {

namespace {

struct FontSpec {
    int pixelSize;
    QFont::Weight weight;
};

constexpr FontSpec kFonts[kSkinFontCount] = {
    {12, QFont::Normal}, {12, QFont::Bold},   {11, QFont::Normal}, {15, QFont::DemiBold},
    {20, QFont::Bold},   {13, QFont::Normal}, {13, QFont::Bold},   {17, QFont::Bold},
};

}  // namespace

QFont SkinFont(int index) {
    if (index < 0 || index >= kSkinFontCount) index = 0;
    QFont font = QApplication::font();
    font.setPixelSize(kFonts[index].pixelSize);
    font.setWeight(kFonts[index].weight);
    return font;
}

}  // namespace keltra
