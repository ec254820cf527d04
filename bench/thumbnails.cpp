// The thumbnail service over 10,000 small JPEGs held in memory, asked for a screenful at a
// time as a grid scrolled from top to bottom asks for them: time to the first thumbnail and
// to the first full screen, the window thread's time per scroll step (what it spends asking)
// and the time until each new screen is complete, the cache's bytes and the peak memory.
// thumbnails_bench [COUNT] [PER_SCREEN]; run with QT_QPA_PLATFORM=offscreen.
#include <sys/resource.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/thumbnail_service.h"

namespace {

QByteArray MakeJpeg(int index) {
    QImage image(320, 240, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 320, 240);
    gradient.setColorAt(0, QColor::fromHsv(index * 37 % 360, 200, 220));
    gradient.setColorAt(1, QColor::fromHsv(index * 91 % 360, 160, 90));
    painter.fillRect(image.rect(), gradient);
    painter.drawText(image.rect(), Qt::AlignCenter, QString::number(index));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes;
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int perScreen = argc > 2 ? std::atoi(argv[2]) : 60;
    std::vector<QByteArray> files;
    files.reserve(static_cast<size_t>(count));
    qint64 sourceBytes = 0;
    for (int i = 0; i < count; ++i) {
        files.push_back(MakeJpeg(i));
        sourceBytes += files.back().size();
    }
    const long beforeKiB = PeakKiB();
    std::printf("%d JPEGs of 320 x 240, %.1f MiB in all; peak before the grid %.1f MiB\n", count,
                sourceBytes / 1048576.0, beforeKiB / 1024.0);

    keltra::ThumbnailService service(keltra::ThumbnailOptions{128, {}, 10000});
    int delivered = 0;
    QObject::connect(&service, &keltra::ThumbnailService::ThumbnailReady,
                     [&delivered](quint64) { ++delivered; });
    auto ask = [&](int first) {
        for (int i = first; i < std::min(count, first + perScreen); ++i) {
            const QByteArray& bytes = files[static_cast<size_t>(i)];
            service.Request({static_cast<quint64>(i), "x.jpg", false,
                             [&bytes](qint64 maxBytes) { return bytes.left(maxBytes); }});
        }
    };
    auto screenDone = [&](int first) {
        for (int i = first; i < std::min(count, first + perScreen); ++i) {
            if (service.Find(static_cast<quint64>(i)) == nullptr) return false;
        }
        return true;
    };

    QElapsedTimer clock;
    clock.start();
    ask(0);
    if (!QTest::qWaitFor([&] { return delivered > 0; }, 60000)) return 1;
    const double firstMs = clock.nsecsElapsed() / 1e6;
    if (!QTest::qWaitFor([&] { return screenDone(0); }, 60000)) return 1;
    const double firstScreenMs = clock.nsecsElapsed() / 1e6;
    std::printf("first thumbnail %.1f ms, first screen of %d %.1f ms\n", firstMs, perScreen,
                firstScreenMs);

    // One scroll step: a screen further down; the window thread asks, then goes on painting.
    std::vector<double> askMs, completeMs;
    for (int first = perScreen; first < count; first += perScreen) {
        QElapsedTimer step;
        step.start();
        ask(first);
        askMs.push_back(step.nsecsElapsed() / 1e6);
        if (!QTest::qWaitFor([&] { return screenDone(first); }, 60000)) return 1;
        completeMs.push_back(step.nsecsElapsed() / 1e6);
    }
    auto percentile = [](std::vector<double> v, double p) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[static_cast<size_t>(p * (v.size() - 1))];
    };
    std::printf("scroll steps: %zu; window thread per step median %.3f ms, max %.3f ms\n",
                askMs.size(), percentile(askMs, 0.5), percentile(askMs, 1.0));
    std::printf("screen complete after a step: median %.1f ms, 95th %.1f ms, max %.1f ms\n",
                percentile(completeMs, 0.5), percentile(completeMs, 0.95),
                percentile(completeMs, 1.0));
    std::printf("all %d in %.1f s; cache %d thumbnails, %.1f MiB; peak %.1f MiB (%.1f MiB over the "
                "files held)\n",
                count, clock.nsecsElapsed() / 1e9, service.CachedCount(),
                service.CachedBytes() / 1048576.0, PeakKiB() / 1024.0,
                (PeakKiB() - beforeKiB) / 1024.0);
    return 0;
}
