#include "app/rescue_map_view.h"

#include <QPainter>

namespace keltra {

namespace {

constexpr int kCellPixels = 6;  // the square, its one-pixel gap included

}  // namespace

RescueMapView::RescueMapView(QWidget* parent)
    : QWidget(parent), cells_(kCells, AreaStatus::kNonTried) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void RescueMapView::SetCells(std::vector<AreaStatus> cells) {
    if (cells.size() != static_cast<size_t>(kCells) || cells == cells_) return;
    cells_ = std::move(cells);
    update();
}

QColor RescueMapView::ColourOf(AreaStatus status) {
    switch (status) {
        case AreaStatus::kFinished:
            return QColor(0x2E, 0xB8, 0x4B);
        case AreaStatus::kBad:
            return QColor(0xE0, 0x2B, 0x2B);
        case AreaStatus::kNonTrimmed:
            return QColor(0xF2, 0xC1, 0x1D);
        case AreaStatus::kNonScraped:
            return QColor(0x3A, 0x6F, 0xD8);
        case AreaStatus::kNonTried:
            break;
    }
    return QColor(0xC9, 0xD1, 0xD9);
}

QSize RescueMapView::sizeHint() const {
    return {kColumns * kCellPixels + 1, kRows * kCellPixels + 1};
}

QSize RescueMapView::minimumSizeHint() const {
    return sizeHint();
}

void RescueMapView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The grid keeps its squares square and sits in the middle of the space it is given.
    const int cell = std::max(2, std::min((width() - 1) / kColumns, (height() - 1) / kRows));
    const int left = (width() - (kColumns * cell + 1)) / 2;
    const int top = (height() - (kRows * cell + 1)) / 2;
    painter.fillRect(left, top, kColumns * cell + 1, kRows * cell + 1, QColor(0xFF, 0xFF, 0xFF));
    for (int i = 0; i < kCells; ++i) {
        const int x = left + 1 + (i % kColumns) * cell;
        const int y = top + 1 + (i / kColumns) * cell;
        painter.fillRect(x, y, cell - 1, cell - 1, ColourOf(cells_[static_cast<size_t>(i)]));
    }
}

}  // namespace keltra
