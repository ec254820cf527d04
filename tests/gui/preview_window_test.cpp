// The preview window as a browsing window: the picture follows the window's size, the arrow
// keys and the wheel step through the pictures, it tells which picture of how many with its
// size and pixels, and Esc closes it. The pictures come from files through a small engine.
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QWheelEvent>
#include <map>

#include "app/preview_wnd.h"
#include "gui_test_support.h"

namespace keltra {
namespace {

// Gives each record the picture file kept for its index; nothing else.
class PictureFilesEngine : public ScanEngine {
  public:
    explicit PictureFilesEngine(std::map<uint32_t, std::string> files) : files_(std::move(files)) {}
    Status Open(const SourceRef&) override { return kOk; }
    Status ReadRecordHead(const FoundRecord&, std::span<std::byte>, size_t& got) override {
        got = 0;
        return kErrInvalidParameter;
    }
    uint64_t UnreadableSectors() const override { return 0; }
    void CloseSource() override {}
    Status ReopenSource() override { return kOk; }
    void SetCallbacks(ScanProgressCallback, CopyProgressCallback, void*, int) override {}
    Status Scan(const std::optional<std::string>&) override { return kOk; }
    Status ListFolder(const FoundRecord*, int, std::vector<FoundRecord>&) override { return kOk; }
    Status CountFolderFiles(const FoundRecord*, int, uint32_t&) override { return kOk; }
    uint64_t GetRecordCount() override { return files_.size(); }
    uint64_t GetFileCount() override { return files_.size(); }
    Status GetRecordPath(const FoundRecord&, std::string& path) override {
        path.clear();
        return kOk;
    }
    Status RecoverRecord(const FoundRecord&, const std::string&, int) override {
        return kErrInvalidParameter;
    }
    void SetSearchCallback(SearchProgressCallback, void*) override {}
    Status FindByExtensions(const std::string&, std::vector<FoundRecord>&) override { return kOk; }
    Status ReadRecordData(const FoundRecord& record, std::string& tempPath, std::span<std::byte>,
                          uint32_t& size, PreviewCallback, void*) override {
        size = 0;
        const auto it = files_.find(record.recordIndex);
        if (it == files_.end()) return kErrInvalidParameter;
        tempPath = it->second;
        return kOk;
    }

  private:
    std::map<uint32_t, std::string> files_;
};

FoundRecord Record(const char* name, uint32_t index, uint64_t size) {
    FoundRecord record = EmptyRecord();
    record.SetName(name);
    record.recordIndex = index;
    record.size = size;
    return record;
}

// The height of the picture the edit shows; 0 without one.
int ShownPictureHeight(const QTextEdit& edit) {
    for (QTextBlock block = edit.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat()) return static_cast<int>(format.toImageFormat().height());
        }
    }
    return 0;
}

// A picture with something to see in it.
QImage Picture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, QColor(0x2A, 0x7F, 0xC4));
    gradient.setColorAt(1, QColor(0xF2, 0xB1, 0x3A));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(QPen(Qt::white, 12));
    painter.drawEllipse(QPoint(width / 2, height / 2), width / 4, height / 4);
    return image;
}

void Wheel(QWidget* target, int notches) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

class PreviewWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { session_ = std::make_unique<test::ScratchSession>(); }
    void cleanup() { session_.reset(); }

    void picturesFollowTheWindowKeysAndWheelStep() {
        QTemporaryDir dir;
        const QString wide = dir.filePath("wide.png");
        const QString tall = dir.filePath("tall.png");
        Picture(1600, 1200).save(wide);
        Picture(1200, 1600).save(tall);
        PictureFilesEngine engine(
            {{1, wide.toStdString()}, {3, tall.toStdString()}, {4, wide.toStdString()}});
        const std::vector<FoundRecord> list{Record("a.png", 1, 2048), Record("notes.txt", 2, 10),
                                            Record("b.png", 3, 3 << 20), Record("c.png", 4, 512)};
        RecoverySources sources{[&engine](uint16_t) { return &engine; }, nullptr};
        std::string folder;
        PreviewExtraction shown;
        shown.record = list[2];
        shown.tempPath = tall.toStdString();
        CPreviewWnd window(nullptr, shown, list, sources, folder, nullptr);
        window.resize(600, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* edit = window.findChild<QTextBrowser*>("PreviewEdit");
        auto* position = window.findChild<QLabel*>("Position");
        auto* details = window.findChild<QLabel*>("Details");
        QCOMPARE(position->text(), QString("2 of 3"));
        QCOMPARE(details->text(), QString("3.00 MB, 1200 × 1600 pixels"));

        // Larger window, larger picture; and back.
        const int small = ShownPictureHeight(*edit);
        QVERIFY(small > 100);
        QVERIFY(small < 500);
        window.resize(1000, 900);
        QTRY_VERIFY(ShownPictureHeight(*edit) > small + 300);
        window.resize(600, 500);
        QTRY_COMPARE(ShownPictureHeight(*edit), small);

        // The keys step over the text file and wrap around.
        QTest::keyClick(edit, Qt::Key_Right);
        QCOMPARE(QString::fromStdString(std::string(shown.record.Name())), QString("c.png"));
        QCOMPARE(position->text(), QString("3 of 3"));
        QCOMPARE(details->text(), QString("512 B, 1600 × 1200 pixels"));
        QTest::keyClick(edit, Qt::Key_Right);
        QCOMPARE(position->text(), QString("1 of 3"));
        QTest::keyClick(&window, Qt::Key_Left);
        QCOMPARE(position->text(), QString("3 of 3"));

        // The wheel: a notch down is the next picture, up the one before; half a notch waits.
        Wheel(edit->viewport(), 1);
        QCOMPARE(position->text(), QString("2 of 3"));
        Wheel(edit->viewport(), -1);
        QCOMPARE(position->text(), QString("3 of 3"));
        const QPointF at(10, 10);
        QWheelEvent half(at, edit->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -60),
                         Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(edit->viewport(), &half);
        QCOMPARE(position->text(), QString("3 of 3"));
        QApplication::sendEvent(edit->viewport(), &half);
        QCOMPARE(position->text(), QString("1 of 3"));

        // Maximising gives the picture the room; Esc closes as the Close button does.
        window.findChild<QPushButton*>("maxbtn")->click();
        QTRY_VERIFY(window.isMaximized());
        QTRY_VERIFY(ShownPictureHeight(*edit) > small);
        test::Screenshot(window, "preview_maximised");
        QTest::keyClick(edit, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        QCOMPARE(window.result(), CPreviewWnd::kResultClosed);
    }

    void textIsScrolledNotStepped() {
        PictureFilesEngine engine({});
        std::vector<FoundRecord> list{Record("a.txt", 1, 3000), Record("b.png", 2, 10)};
        RecoverySources sources{[&engine](uint16_t) { return &engine; }, nullptr};
        std::string folder;
        PreviewExtraction shown;
        shown.record = list[0];
        shown.size = 3000;
        std::fill_n(shown.buffer.begin(), 3000, std::byte{'x'});
        CPreviewWnd window(nullptr, shown, list, sources, folder, nullptr);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* edit = window.findChild<QTextBrowser*>("PreviewEdit");
        QTest::keyClick(edit, Qt::Key_Right);
        Wheel(edit->viewport(), -1);
        QCOMPARE(QString::fromStdString(std::string(shown.record.Name())), QString("a.txt"));
        QCOMPARE(window.findChild<QLabel*>("Position")->text(), QString());
        QCOMPARE(window.findChild<QLabel*>("Details")->text(), QString("2.93 KB"));
    }

    void positionCountsPicturesOnly() {
        const std::vector<FoundRecord> list{Record("a.jpg", 1, 0), Record("n.txt", 2, 0),
                                            Record("b.JPG", 3, 0), Record("s.mp3", 4, 0)};
        QCOMPARE(PicturePosition(list, list[2]), std::make_pair(2, 2));
        QCOMPARE(PicturePosition(list, list[0]), std::make_pair(1, 2));
        QCOMPARE(PicturePosition(list, list[1]), std::make_pair(0, 2));
        QCOMPARE(PicturePosition({}, list[0]), std::make_pair(0, 0));
    }

  private:
    std::unique_ptr<test::ScratchSession> session_;
};

KELTRA_GUI_TEST("PreviewWindow", PreviewWindowTest);

}  // namespace
}  // namespace keltra

#include "preview_window_test.moc"
