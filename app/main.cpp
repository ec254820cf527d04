// keltra-photo-recovery: the desktop program of Keltra Photo Recovery.
#include <QApplication>
#include <QScreen>
#include <QStyle>
#include <filesystem>
#include <system_error>

#include "app/crash_dump.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/single_instance.h"
#include "app/ui/toolkit.h"
#include "platform/app_folders.h"

namespace {

// What the program leaves behind it is removed: the preview's temporary video. Players the
// preview started belong to its window and end with it.
void Shutdown() {
    std::error_code ec;
    std::filesystem::remove(
        keltra::ApplicationDataFolder() + "/KeltraPhotoRecovery/ScanLog/tmp.avi", ec);
}

}  // namespace

int main(int argc, char** argv) {
    keltra::InstallCrashHandler();
    QApplication app(argc, argv);
    keltra::InitialiseToolkit();

    keltra::CSingleInstance instance;
    if (!instance.TryBecomeFirst()) {
        if (!instance.AskFirstToShow()) {
            keltra::ShowMessage(keltra::kMessageInformation, nullptr,
                                QStringLiteral("Dovren is running."));
        }
        return 0;
    }
    {
        keltra::CMainWnd window;
        instance.Listen([&window] {
            window.showNormal();
            window.raise();
            window.activateWindow();
        });
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            window.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(),
                                                   screen->availableGeometry()));
        }
        window.show();
        QApplication::exec();
    }
    Shutdown();
    return 0;
}
