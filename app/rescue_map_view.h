// A picture of a rescue copy's map, as ddrescueview draws one: the copy's bytes laid out left to
// right and top to bottom over a grid of small squares, each coloured by the status of its part
// (copied, bad, not tried, not trimmed, not scraped); a part that holds several statuses shows
// the one furthest from copied, so that one bad sector is never lost in a large good square.
#pragma once

#include <QColor>
#include <QWidget>
#include <vector>

#include "storage/rescue_map.h"

namespace keltra {

class RescueMapView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kColumns = 64;
    static constexpr int kRows = 12;
    static constexpr int kCells = kColumns * kRows;

    explicit RescueMapView(QWidget* parent = nullptr);

    // The statuses of kCells equal parts of the copy, from RescueMap::Cells(kCells).
    void SetCells(std::vector<AreaStatus> cells);
    const std::vector<AreaStatus>& Cells() const { return cells_; }

    static QColor ColourOf(AreaStatus status);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<AreaStatus> cells_;
};

}  // namespace keltra
