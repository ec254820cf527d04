// The results page's preview and recovery in the real main window, on fixture images added as
// image sources and scanned by the real workers.
#include "app/file_actions.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <functional>

#include "app/apply_section.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/player_launcher.h"
#include "app/recover_options_wnd.h"
#include "app/recover_process_wnd.h"
#include "gui_test_support.h"
#include "results_view.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

// Scans `image` as the window's one source and shows the results.
void ScanImage(CMainWnd& window, const std::string& image) {
    window.show();
    QTest::mouseClick(window.findChild<QPushButton*>("BtnStart"), Qt::LeftButton);
    QVERIFY(window.AddImageSource(QString::fromStdString(image)) != nullptr);
    QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
    QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
}

// Lists the files of the first type under the top node and makes the row named `name` current
// (which previews it); false when there is no such row.
bool SelectFile(CMainWnd& window, const char* topNode, const char* name) {
    const QModelIndex top = test::Node(window, QString::fromLatin1(topNode));
    if (!top.isValid() || top.model()->rowCount(top) == 0) return false;
    window.findChild<QTreeView*>("TypeTree")->setCurrentIndex(top.model()->index(0, 0, top));
    const QString wanted = QString::fromLatin1(name);
    for (int i = 0; i < test::ListedRows(window); ++i) {
        // A deleted 8.3 name has lost its first letter ("!ong.mp3"): the rest must match.
        if (test::Cell(window, i, 1).mid(1).compare(wanted.mid(1), Qt::CaseInsensitive) == 0) {
            test::SelectRow(window, i);
            const FoundRecord* selected = window.SelectedRecord();
            return selected != nullptr && QString::fromUtf8(selected->Name())
                                                  .mid(1)
                                                  .compare(wanted.mid(1), Qt::CaseInsensitive) == 0;
        }
    }
    return false;
}

bool HoldsPicture(const QTextEdit& edit) {
    for (QTextBlock block = edit.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat()) return true;
        }
    }
    return false;
}

class FileActionsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { appData_ = std::make_unique<test::ScopedAppDataFolder>(); }
    void cleanupTestCase() { appData_.reset(); }
    void init() { languages_ = std::make_unique<test::ScratchLanguages>(); }
    void cleanup() { languages_.reset(); }

    void PreviewsAndRecoversFromTheResults() {
        const std::string image = test::FixturePath("photos_fat.img");
        if (!fs::exists(image)) QSKIP("photos_fat.img is not built");
        CMainWnd window;
        ScanImage(window, image);
        QVERIFY(SelectFile(window, "NodePhoto", "Holiday_001.JPG"));
        QVERIFY(HoldsPicture(*window.findChild<QTextBrowser*>("PreviewEdit")));

        // Every row of the type checked, then recovered into a folder picked in the dialog.
        for (int i = 0; i < test::ListedRows(window); ++i) test::CheckRow(window, i, true);
        const size_t checked = window.CheckedCount();
        QCOMPARE(checked, size_t(test::ListedRows(window)));
        QVERIFY(checked >= 3);
        test::ScratchDir dest;
        const QString folder = QString::fromStdString(dest.Path().string()) + "/";
        test::WhenModal<CRecoverOptionsWnd>(
            [](CRecoverOptionsWnd* options) { options->accept(); });
        test::WhenModal<QFileDialog>([folder](QFileDialog* dialog) {
            dialog->setDirectory(folder);
            static_cast<QDialog*>(dialog)->accept();  // public in QDialog
        });
        unsigned processed = 0, failed = 0;
        test::WhenModal<CRecoverProcessWnd>([&processed, &failed](CRecoverProcessWnd* recovery) {
            auto* finish = recovery->findChild<QPushButton*>("FinishBtn");
            QTRY_VERIFY(finish->isVisible());
            processed = recovery->Processed();
            failed = recovery->Failed();
            QTest::mouseClick(finish, Qt::LeftButton);
        });
        QTest::mouseClick(window.findChild<QPushButton*>("BtnRecover"), Qt::LeftButton);
        QCOMPARE(window.FileActions()->RecoverFolder(), dest.Path().string());
        QCOMPARE(size_t{processed}, checked);
        QCOMPARE(failed, 0U);
        size_t written = 0;
        for (const auto& entry : fs::directory_iterator(dest.Path() / "photo")) {
            written += entry.is_regular_file() ? 1 : 0;
        }
        QCOMPARE(written, checked);
        QVERIFY(fs::exists(dest.Path() / "photo/Holiday_001.JPG"));
        QVERIFY(fs::exists(dest.Path() / "photo/Beach day(1).jpg"));
    }

    void BrokenPictureAndUnplayableMedia() {
        const std::string image = test::FixturePath("gui_photos.img");
        if (!fs::exists(image)) QSKIP("gui_photos.img is not built");
        CMainWnd window;
        ScanImage(window, image);
        // Its JPEGs are noise after the header.
        QVERIFY(SelectFile(window, "NodePhoto", "hundred.jpeg"));
        QCOMPARE(window.findChild<QTextBrowser*>("PreviewEdit")->toPlainText(),
                 MessageText("MSG0905"));

        // Sound goes to the player, which cannot play noise (or there is none).
        QSignalSpy failed(window.FileActions()->Players(), &CPlayerLauncher::Failed);
        QVERIFY(SelectFile(window, "NodeAudio", "song.mp3"));
        // The player has been started; its end is told once the event loop runs again.
        QString told;
        test::WhenModal<CMessageBox>([&told](CMessageBox* box) {
            told = box->findChild<QLabel*>("message")->text();
            box->findChild<QPushButton*>("okbtn")->click();
        });
        QVERIFY(failed.wait(30000));
        QCOMPARE(told, MessageText("MSG1207"));
        QVERIFY(window.findChild<QTextBrowser*>("PreviewEdit")->toPlainText().isEmpty());
    }

  private:
    std::unique_ptr<test::ScratchLanguages> languages_;
    std::unique_ptr<test::ScopedAppDataFolder> appData_;
};

KELTRA_GUI_TEST("FileActions", FileActionsTest);

}  // namespace
}  // namespace keltra

#include "file_actions_test.moc"
