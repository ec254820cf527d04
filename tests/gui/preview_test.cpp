// Previews of found files: pictures decoded into the edit, an undecodable picture, text lines,
// stepping through the pictures, and the media player launcher. With KELTRA_SCREENSHOT_DIR set
// the preview windows are also saved as pictures there.
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/apply_section.h"
#include "app/found_files.h"
#include "app/message_box.h"
#include "app/player_launcher.h"
#include "app/preview_display.h"
#include "app/preview_process_wnd.h"
#include "app/preview_wnd.h"
#include "engine_fixture.h"
#include "gui_test_support.h"
#include "support/test_support.h"

namespace keltra {
namespace {

// Whether the edit's document holds a picture.
bool HoldsPicture(const QTextEdit& edit) {
    for (QTextBlock block = edit.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat()) return true;
        }
    }
    return false;
}

FoundRecord Record(const char* name, uint32_t index) {
    FoundRecord record = EmptyRecord();
    record.SetName(name);
    record.recordIndex = index;
    return record;
}

// A second of a quiet tone as WAV bytes, which a player recognises whatever the file's name.
void WriteTone(const std::string& path) {
    const uint32_t rate = 8000, samples = 8000;
    std::ofstream out(path, std::ios::binary);
    auto put32 = [&out](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&out](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out << "RIFF";
    put32(36 + samples * 2);
    out << "WAVEfmt ";
    put32(16);
    put16(1);
    put16(1);
    put32(rate);
    put32(rate * 2);
    put16(2);
    put16(16);
    out << "data";
    put32(samples * 2);
    for (uint32_t i = 0; i < samples; ++i) put16(static_cast<uint16_t>((i % 16) * 200));
}

class PreviewTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { session_ = std::make_unique<test::ScratchSession>(); }
    void cleanup() { session_.reset(); }

    void TextIsCutIntoLinesOf1024() {
        std::vector<std::byte> bytes(3000, std::byte{'a'});
        bytes[5] = std::byte{0};
        const QStringList lines = PreviewText(bytes).split('\n');
        QCOMPARE(lines.size(), 4);  // the last line break ends the text
        QCOMPARE(lines[0].size(), 1024);
        QCOMPARE(lines[1].size(), 1024);
        QCOMPARE(lines[2].size(), 952);
        QVERIFY(lines[3].isEmpty());
        QCOMPARE(lines[0][5], QChar('.'));
        QCOMPARE(PreviewText(std::vector<std::byte>(1024, std::byte{'b'})).count('\n'), 1);
    }

    void NextAndPreviousPicturesWrapAround() {
        const std::vector<FoundRecord> list{Record("a.jpg", 1), Record("notes.txt", 2),
                                            Record("b.PNG", 3), Record("song.mp3", 4)};
        QCOMPARE(NextPictureIndex(list, list[0], true), 2);
        QCOMPARE(NextPictureIndex(list, list[2], true), 0);  // past the end to the start
        QCOMPARE(NextPictureIndex(list, list[0], false), 2);
        QCOMPARE(NextPictureIndex(list, list[1], false), 0);
        const std::vector<FoundRecord> one{Record("x.txt", 1), Record("only.gif", 2)};
        QCOMPARE(NextPictureIndex(one, one[1], true), 1);  // the one picture again
        const std::vector<FoundRecord> none{Record("x.txt", 1)};
        QCOMPARE(NextPictureIndex(none, none[0], true), -1);
    }

    void PicturesAndTextFromAFixture() {
        auto engine = test::ScannedImageEngine("photos_fat.img", 1);
        if (engine == nullptr) QSKIP("photos_fat.img is not built");
        const auto found = test::FindFiles(*engine, "*.jpg|*.png|*.txt|");
        RecoverySources sources{[&engine](uint16_t) { return engine.get(); }, nullptr};
        std::string folder;

        const struct {
            const char* name;
            const char* shot;
        } pictures[] = {{"Holiday_001.JPG", "preview_jpeg"}, {"Company logo.png", "preview_png"}};
        for (const auto& picture : pictures) {
            PreviewExtraction shown;
            QCOMPARE(ExtractPreview(nullptr, test::Named(found, picture.name), engine.get(), shown,
                                    nullptr),
                     int(CPreviewProcessWnd::kResultExtracted));
            QVERIFY(!shown.tempPath.empty());
            QVERIFY(!shown.media);
            CPreviewWnd window(nullptr, shown, found, sources, folder, nullptr);
            window.show();
            auto* edit = window.findChild<QTextBrowser*>("PreviewEdit");
            QVERIFY(HoldsPicture(*edit));
            QVERIFY(window.findChild<QWidget*>("NextBar")->isVisible());
            QCOMPARE(window.findChild<QLabel*>("FileName")->text(), QString(picture.name));
            test::Screenshot(window, picture.shot);
        }

        // Stepping on from a picture extracts the next one.
        PreviewExtraction shown;
        ExtractPreview(nullptr, found.front(), engine.get(), shown, nullptr);
        CPreviewWnd window(nullptr, shown, found, sources, folder, nullptr);
        window.show();
        const uint64_t before = CheckedFileKey(shown.record);
        window.Step(true);
        QVERIFY(CheckedFileKey(window.Shown().record) != before);
        QVERIFY(HoldsPicture(*window.findChild<QTextBrowser*>("PreviewEdit")));

        PreviewExtraction text;
        const FoundRecord notes = test::Named(found, "Meeting notes.txt");
        QCOMPARE(ExtractPreview(nullptr, notes, engine.get(), text, nullptr),
                 int(CPreviewProcessWnd::kResultExtracted));
        QVERIFY(text.tempPath.empty());
        QCOMPARE(uint64_t{text.size}, notes.size);
        CPreviewWnd textWindow(nullptr, text, found, sources, folder, nullptr);
        textWindow.show();
        QVERIFY(textWindow.findChild<QWidget*>("NextBar")->isHidden());
        const QString shownText = textWindow.findChild<QTextBrowser*>("PreviewEdit")->toPlainText();
        QVERIFY(shownText.startsWith("line 0: the quick brown fox"));
        test::Screenshot(textWindow, "preview_text");
    }

    void CancelStopsTheExtraction() {
        auto engine = test::ScannedImageEngine("photos_fat.img", 1);
        if (engine == nullptr) QSKIP("photos_fat.img is not built");
        test::HeldEngine held(*engine);
        const auto found = test::FindFiles(*engine, "*.jpg|");
        PreviewExtraction shown;
        CPreviewProcessWnd window(nullptr, found.front(), &held, shown, nullptr);
        const struct ReleaseAtEnd {
            test::HeldEngine& engine;
            ~ReleaseAtEnd() { engine.Release(); }
        } releaseAtEnd{held};
        window.open();
        QTRY_VERIFY(held.Waiting());
        // Let go while the question is open: the extraction waits at its first report for the
        // answer, then stops there.
        QString asked;
        auto* answer = new QTimer(&window);
        connect(answer, &QTimer::timeout, &window, [&] {
            auto* box = qobject_cast<CMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            answer->stop();
            held.Release();
            while (held.Waiting()) QTest::qSleep(5);
            QTest::qSleep(100);
            asked = box->findChild<QLabel*>("message")->text();
            box->findChild<QPushButton*>("okbtn")->click();
        });
        answer->start(10);
        QTest::mouseClick(window.findChild<QPushButton*>("cancelbtn"), Qt::LeftButton);
        QCOMPARE(asked, MessageText("MSG0903"));
        QTRY_VERIFY(!window.isVisible());
        QCOMPARE(window.result(), int(CPreviewProcessWnd::kResultCancelled));
        QVERIFY(shown.tempPath.empty());
    }

    // Pictures Qt's readers do not decode: a camera's RAW file shows the largest JPEG it carries
    // (not its small first image nor the maker note's thumbnail), HEIC and AVIF decode through
    // libheif.
    void RawAndHeifPicturesArePreviewed() {
        const struct {
            const char* file;
            int width;
            const char* shot;
        } cases[] = {
            {"nikon.nef", 120, "preview_raw_nef"}, {"canon.cr2", 160, nullptr},
            {"fuji.raf", 160, nullptr},           {"canon.cr3", 200, nullptr},
            {"sigma.x3f", 96, nullptr},           {"panasonic.rw2", 120, nullptr},
            {"phone.heic", 96, "preview_heic"},   {"photo.avif", 96, nullptr},
            {"photo.webp", 96, nullptr},
        };
        std::vector<FoundRecord> found;
        for (const auto& c : cases) {
            found.push_back(Record(c.file, static_cast<uint32_t>(found.size())));
            found.back().size = std::filesystem::file_size(
                test::TestDataPath(std::string("formats/") + c.file));
        }
        std::string folder;
        for (size_t i = 0; i < std::size(cases); ++i) {
            const auto& c = cases[i];
            const QString path = QString::fromStdString(test::TestDataPath(std::string("formats/") + c.file));
            QTextBrowser edit;
            edit.resize(800, 600);
            QVERIFY2(ShowPicture(&edit, path), c.file);
            bool sized = false;
            for (QTextBlock block = edit.document()->begin(); block.isValid(); block = block.next()) {
                for (auto it = block.begin(); !it.atEnd(); ++it) {
                    const auto format = it.fragment().charFormat();
                    if (format.isImageFormat()) sized = format.toImageFormat().width() == c.width;
                }
            }
            QVERIFY2(sized, c.file);
            if (c.shot == nullptr) continue;
            PreviewExtraction shown;
            shown.record = found[i];
            shown.tempPath = path.toStdString();
            CPreviewWnd window(nullptr, shown, found, {}, folder, nullptr);
            window.show();
            QVERIFY(HoldsPicture(*window.findChild<QTextBrowser*>("PreviewEdit")));
            test::Screenshot(window, c.shot);
        }
    }

    void BrokenPictureSaysSo() {
        auto engine = test::ScannedImageEngine("fat16.img", 1);
        if (engine == nullptr) QSKIP("fat16.img is not built");
        const auto found = test::FindFiles(*engine, "*.jpg|");
        // Its bytes after the JPEG header are noise.
        const FoundRecord broken = test::Named(found, "Beach day.jpg");
        QVERIFY(broken.size != 0);
        PreviewExtraction shown;
        QCOMPARE(ExtractPreview(nullptr, broken, engine.get(), shown, nullptr),
                 int(CPreviewProcessWnd::kResultExtracted));
        QVERIFY(!shown.tempPath.empty());
        QTextBrowser edit;
        QVERIFY(!ShowPicture(&edit, QString::fromStdString(shown.tempPath)));
        std::string folder;
        CPreviewWnd window(nullptr, shown, found, {}, folder, nullptr);
        window.show();
        QCOMPARE(window.findChild<QTextBrowser*>("PreviewEdit")->toPlainText(),
                 QString(kCannotPreviewPicture));
        test::Screenshot(window, "preview_broken_jpeg");
    }

    void PlayerReportsPlayingOrFailure() {
        // A stand-in player, so that the watching is tested the same on every machine whatever
        // players it has: it writes a position line with a percentage for a playable file, as
        // mpv does, and fails at once on one that is not.
        test::ScratchDir bin;
        const std::string script = bin / "player";
        std::ofstream(script) << "#!/bin/sh\n"
                                 "for f; do :; done\n"
                                 "grep -q 'no video' \"$f\" && { echo 'Failed to recognize file format.'; exit 2; }\n"
                                 "echo 'A: 00:00:00 / 00:00:02 (0%)'\n"
                                 "exec sleep 30\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        PlayerProgram player{QString::fromStdString(script), {}, {QStringLiteral("%")}};
        test::ScratchDir dir;
        WriteTone(dir / "tmp.avi");
        CPlayerLauncher players(nullptr);
        players.SetPlayer(player);
        QSignalSpy playing(&players, &CPlayerLauncher::Playing);
        QSignalSpy failed(&players, &CPlayerLauncher::Failed);
        players.Play(QString::fromStdString(dir / "tmp.avi"), false);
        QVERIFY(playing.wait(15000));
        QCOMPARE(failed.count(), 0);
        players.EndAll();
        QCOMPARE(players.Running(), 0);

        std::ofstream(dir / "bad.avi") << "RIFF....AVI this is no video at all";
        test::SeenBox seen;
        test::AnswerNextBox("okbtn", seen);
        players.Play(QString::fromStdString(dir / "bad.avi"), false);
        QVERIFY(failed.wait(15000));
        QVERIFY(seen.shown);
        QCOMPARE(seen.text, MessageText("MSG1207"));
        QCOMPARE(playing.count(), 1);
    }

    void NoPlayerTellsTheUser() {
        CPlayerLauncher players(nullptr);
        players.SetPlayer({});
        QSignalSpy failed(&players, &CPlayerLauncher::Failed);
        test::SeenBox seen;
        test::AnswerNextBox("okbtn", seen);
        players.Play("/nonexistent/tmp.avi", false);
        QVERIFY(failed.wait(5000));
        QCOMPARE(seen.text, MessageText("MSG1207"));
    }

  private:
    std::unique_ptr<test::ScratchSession> session_;
};

KELTRA_GUI_TEST("Preview", PreviewTest);

}  // namespace
}  // namespace keltra

#include "preview_test.moc"
