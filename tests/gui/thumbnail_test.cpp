// Thumbnails made on worker threads: one for each picture type the grid shows, a damaged
// picture marked, a RAW file through its preview, a video's frame or its icon, a cache capped
// in bytes, the newest requests first, and Clear that leaves no reader running.
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <atomic>
#include <semaphore>
#include <set>
#include <thread>

#include "app/thumbnail_service.h"
#include "gui_test_support.h"
#include "support/test_support.h"

namespace keltra {
namespace {

QByteArray SampleBytes(const QString& relative) {
    QFile file(QString::fromStdString(test::TestDataPath(relative.toStdString())));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

ThumbnailReader FromBytes(QByteArray bytes) {
    return [bytes](qint64 maxBytes) { return bytes.left(maxBytes); };
}

// Waits until every key has been delivered (or the time is up).
bool WaitForAll(ThumbnailService& service, const std::set<quint64>& keys, int timeoutMs = 20000) {
    return QTest::qWaitFor(
        [&] {
            for (const quint64 key : keys) {
                if (service.Find(key) == nullptr) return false;
            }
            return true;
        },
        timeoutMs);
}

class ThumbnailTest : public QObject {
    Q_OBJECT

  private slots:
    void everyPictureTypeGivesAThumbnail() {
        struct Case {
            const char* file;
            Thumbnail::Kind kind;
            QSize pictureSize;
        };
        const Case cases[] = {
            {"pictures/taken.jpg", Thumbnail::Kind::Picture, {96, 72}},
            {"pictures/picture.png", Thumbnail::Kind::Picture, {96, 72}},
            {"pictures/picture.gif", Thumbnail::Kind::Picture, {96, 72}},
            {"pictures/picture.bmp", Thumbnail::Kind::Picture, {96, 72}},
            {"pictures/taken.tif", Thumbnail::Kind::Picture, {96, 72}},
            {"pictures/picture.webp", Thumbnail::Kind::Picture, {96, 72}},
            {"pictures/picture.heic", Thumbnail::Kind::Picture, {96, 72}},
            {"pictures/preview.nef", Thumbnail::Kind::EmbeddedPreview, {200, 150}},
        };
        ThumbnailService service(ThumbnailOptions{64, {}, 1000});
        std::set<quint64> keys;
        quint64 key = 1;
        for (const Case& c : cases) {
            const QByteArray bytes = SampleBytes(c.file);
            QVERIFY2(!bytes.isEmpty(), c.file);
            service.Request({key, QString(c.file).section('/', -1), false, FromBytes(bytes)});
            keys.insert(key++);
        }
        QVERIFY(WaitForAll(service, keys));
        key = 1;
        for (const Case& c : cases) {
            const Thumbnail* t = service.Find(key++);
            QVERIFY2(t != nullptr, c.file);
            QVERIFY2(!t->image.isNull(), c.file);
            QVERIFY2(!t->damaged, c.file);
            QCOMPARE(static_cast<int>(t->kind), static_cast<int>(c.kind));
            QCOMPARE(t->pictureSize, c.pictureSize);
            // Scaled to the edge, the shape kept.
            QCOMPARE(std::max(t->image.width(), t->image.height()), 64);
            QCOMPARE(t->image.width() * c.pictureSize.height() / c.pictureSize.width(),
                     t->image.height());
        }
    }

    void damagedPictureShowsWhatDecodesAndIsMarked() {
        const QByteArray jpeg = SampleBytes("pictures/taken.jpg");
        const ThumbnailOptions options{64, {}, 1000};
        // Cut part-way through its picture data: the top decodes, the rest is missing.
        const Thumbnail cut = DecodeThumbnail(jpeg.left(jpeg.size() * 3 / 4), "1.jpg", false,
                                              options);
        QVERIFY(!cut.image.isNull());
        QVERIFY(cut.damaged);
        QCOMPARE(static_cast<int>(cut.kind), static_cast<int>(Thumbnail::Kind::Picture));
        // Whole, but the engine found it damaged.
        QVERIFY(DecodeThumbnail(jpeg, "1.jpg", true, options).damaged);
        QVERIFY(!DecodeThumbnail(jpeg, "1.jpg", false, options).damaged);
        // A cut PNG.
        const QByteArray png = SampleBytes("pictures/picture.png");
        QVERIFY(DecodeThumbnail(png.left(png.size() / 2), "1.png", false, options).damaged);
        // Bytes that are no picture at all, named as one: an icon, marked.
        const Thumbnail noise = DecodeThumbnail(QByteArray(5000, 'x'), "2.jpg", false, options);
        QVERIFY(noise.image.isNull());
        QCOMPARE(static_cast<int>(noise.kind), static_cast<int>(Thumbnail::Kind::Icon));
        QVERIFY(noise.damaged);
        // A document has no picture; that is no damage.
        QVERIFY(!DecodeThumbnail(QByteArray(5000, 'x'), "a.pdf", false, options).damaged);
    }

    void videoGivesItsFirstFrameWhereADecoderIsInstalled() {
        const QByteArray video = SampleBytes("signatures/sample.mp4");
        QVERIFY(!video.isEmpty());
        const Thumbnail icon = DecodeThumbnail(video, "clip.mp4", false,
                                               ThumbnailOptions{64, "keltra-no-such-decoder", 1000});
        QCOMPARE(static_cast<int>(icon.kind), static_cast<int>(Thumbnail::Kind::Icon));
        QVERIFY(icon.image.isNull());
        QVERIFY(!icon.damaged);
        if (QStandardPaths::findExecutable("ffmpeg").isEmpty()) {
            QSKIP("no ffmpeg: the frame itself is not tried");
        }
        const Thumbnail frame =
            DecodeThumbnail(video, "clip.mp4", false, ThumbnailOptions{64, "ffmpeg", 20000});
        QCOMPARE(static_cast<int>(frame.kind), static_cast<int>(Thumbnail::Kind::VideoFrame));
        QVERIFY(!frame.image.isNull());
        QVERIFY(std::max(frame.image.width(), frame.image.height()) <= 64);
    }

    void cacheStaysWithinItsCapWhateverTheCount() {
        const QByteArray png = SampleBytes("pictures/picture.png");
        ThumbnailService::Limits limits;
        limits.cacheBytes = 300 * 1024;
        limits.maxPending = 1000;
        ThumbnailService service(ThumbnailOptions{96, {}, 1000}, limits);
        QSignalSpy ready(&service, &ThumbnailService::ThumbnailReady);
        constexpr int kCount = 200;
        for (quint64 key = 1; key <= kCount; ++key) {
            service.Request({key, "p.png", false, FromBytes(png)});
        }
        QVERIFY(QTest::qWaitFor([&] { return ready.count() == kCount; }, 30000));
        QVERIFY(service.CachedBytes() <= limits.cacheBytes);
        QVERIFY(service.CachedCount() > 5);
        QVERIFY(service.CachedCount() < kCount);
        // The last delivered is kept; a key asked again once dropped is made again.
        const quint64 last = ready.last().at(0).toULongLong();
        QVERIFY(service.Find(last) != nullptr);
        const quint64 first = ready.first().at(0).toULongLong();
        QVERIFY(service.Find(first) == nullptr);
        service.Request({first, "p.png", false, FromBytes(png)});
        QVERIFY(WaitForAll(service, {first}));
    }

    void newestRequestsComeFirstAndTheOldestBeyondTheBoundAreDropped() {
        const QByteArray png = SampleBytes("pictures/picture.png");
        ThumbnailService::Limits limits;
        limits.maxPending = 10;
        ThumbnailService service(ThumbnailOptions{32, {}, 1000}, limits);
        QSignalSpy ready(&service, &ThumbnailService::ThumbnailReady);
        std::binary_semaphore gate(0);
        // The first read waits until every request is in.
        service.Request({0, "p.png", false, [&](qint64 maxBytes) {
                             gate.acquire();
                             return png.left(maxBytes);
                         }});
        QTest::qWait(50);
        for (quint64 key = 1; key <= 100; ++key) {
            service.Request({key, "p.png", false, FromBytes(png)});
        }
        QCOMPARE(service.PendingCount(), 10);
        gate.release();
        QVERIFY(QTest::qWaitFor([&] { return ready.count() == 11; }, 20000));
        QTest::qWait(100);
        QCOMPARE(ready.count(), 11);
        std::set<quint64> delivered;
        for (const QList<QVariant>& signal : ready) delivered.insert(signal.at(0).toULongLong());
        std::set<quint64> expected{0};
        for (quint64 key = 91; key <= 100; ++key) expected.insert(key);
        QCOMPARE(delivered, expected);
        // A dropped request can be made again.
        service.Request({5, "p.png", false, FromBytes(png)});
        QVERIFY(WaitForAll(service, {5}));
    }

    void clearLeavesNoReaderRunningAndNoOldResult() {
        const QByteArray png = SampleBytes("pictures/picture.png");
        ThumbnailService service(ThumbnailOptions{32, {}, 1000});
        QSignalSpy ready(&service, &ThumbnailService::ThumbnailReady);
        std::atomic<bool> reading = false;
        std::atomic<bool> readDone = false;
        service.Request({1, "p.png", false, [&](qint64 maxBytes) {
                             reading = true;
                             std::this_thread::sleep_for(std::chrono::milliseconds(300));
                             readDone = true;
                             return png.left(maxBytes);
                         }});
        QVERIFY(QTest::qWaitFor([&] { return reading.load(); }, 5000));
        service.Request({2, "p.png", false, FromBytes(png)});
        service.Clear();
        QVERIFY(readDone);  // the running read ended before Clear returned
        QCOMPARE(service.PendingCount(), 0);
        QTest::qWait(300);
        QCOMPARE(ready.count(), 0);
        QVERIFY(service.Find(1) == nullptr);
        // The same keys, asked again after Clear, are made.
        service.Request({1, "p.png", false, FromBytes(png)});
        QVERIFY(WaitForAll(service, {1}));
    }

    void aHoldWaitsForTheRunningReadAndStartsNoOther() {
        const QByteArray png = SampleBytes("pictures/picture.png");
        ThumbnailService service(ThumbnailOptions{32, {}, 1000});
        QSignalSpy ended(&service, &ThumbnailService::ReadsEnded);
        QVERIFY(service.Idle());
        std::atomic<bool> reading = false;
        std::atomic<bool> readDone = false;
        std::atomic<int> readsDuringHold = 0;
        std::atomic<bool> held = false;
        service.Request({1, "p.png", false, [&](qint64 maxBytes) {
                             reading = true;
                             std::this_thread::sleep_for(std::chrono::milliseconds(300));
                             readDone = true;
                             return png.left(maxBytes);
                         }});
        QVERIFY(QTest::qWaitFor([&] { return reading.load(); }, 5000));
        QVERIFY(!service.Idle());
        {
            const ThumbnailService::ReadHold hold(service);
            QVERIFY(readDone);  // the running read ended before the hold was given
            held = true;
            service.Request({2, "p.png", false, [&](qint64 maxBytes) {
                                 if (held) ++readsDuringHold;
                                 return png.left(maxBytes);
                             }});
            QTest::qWait(300);
            QCOMPARE(service.PendingCount(), 1);
            QVERIFY(!service.Idle());
            held = false;
        }
        QVERIFY(WaitForAll(service, {1, 2}));
        QCOMPARE(readsDuringHold.load(), 0);
        // Once nothing waits, the service says so: what the reads opened may be closed.
        QVERIFY(QTest::qWaitFor([&] { return ended.count() > 0 && service.Idle(); }, 5000));
        // Pending requests forgotten: nothing is read, the cache stays.
        {
            const ThumbnailService::ReadHold hold(service);
            service.Request({3, "p.png", false, FromBytes(png)});
            service.ForgetPending();
            QVERIFY(service.Idle());
        }
        QTest::qWait(200);
        QVERIFY(service.Find(3) == nullptr);
        QVERIFY(service.Find(1) != nullptr);
        service.Request({3, "p.png", false, FromBytes(png)});
        QVERIFY(WaitForAll(service, {3}));
    }
};

KELTRA_GUI_TEST("Thumbnail", ThumbnailTest);

}  // namespace
}  // namespace keltra

#include "thumbnail_test.moc"
