#include "app/dialog_position.h"

#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace keltra {

void CentreOverParent(QWidget* dialog) {
    const QWidget* parent = dialog->parentWidget();
    const QWidget* owner = parent != nullptr ? parent->window() : nullptr;
    const QScreen* screen = owner != nullptr ? owner->screen() : dialog->screen();
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect();
    const QPoint centre = owner != nullptr && owner->isVisible() ? owner->frameGeometry().center()
                                                                 : area.center();
    QRect placed(QPoint(0, 0), dialog->frameGeometry().size());
    placed.moveCenter(centre);
    if (area.isValid()) {
        // Kept inside the screen's free area, the top-left corner first.
        placed.moveLeft(std::max(area.left(),
                                 std::min(placed.left(), area.x() + area.width() - placed.width())));
        placed.moveTop(std::max(area.top(),
                                std::min(placed.top(), area.y() + area.height() - placed.height())));
    }
    dialog->move(placed.topLeft());
}

}  // namespace keltra
