#include "app/ui/toolkit.h"

#include <QApplication>
#include <QFont>
#include <QStyleFactory>

// The pictures are compiled into the program's library; their resource must be registered
// by name from outside any namespace.
static void RegisterSkinResources() {
    Q_INIT_RESOURCE(skin);
}

namespace keltra {

void InitialiseToolkit() {
    RegisterSkinResources();
    QApplication::setApplicationName(QStringLiteral("keltra-photo-recovery"));
    QApplication::setApplicationDisplayName(QStringLiteral("Keltra Photo Recovery"));
    // The skin is drawn for one style and one font family, the same on every desktop.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setFamilies(
        {QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans"), QStringLiteral("Sans Serif")});
    font.setPixelSize(12);
    QApplication::setFont(font);
}

}  // namespace keltra
