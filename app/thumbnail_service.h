// Thumbnails of found files, made away from the window: one reader thread fetches the files'
// bytes in turn (the engines are read by one thread at a time, and a disk reads best in
// order), a pool of threads decodes them, and the window's thread keeps the results in a cache
// whose memory is capped however many files there are. The newest request is served first, so
// the pictures scrolled into view come before those scrolled past; requests beyond a bound are
// forgotten and asked again when their picture is shown again.
#pragma once

#include <QObject>
#include <QThreadPool>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>

#include "app/thumbnail_decoder.h"

namespace keltra {

// Reads up to `maxBytes` of a file's data from its start; on the reader thread.
using ThumbnailReader = std::function<QByteArray(qint64 maxBytes)>;

struct ThumbnailRequest {
    quint64 key = 0;  // the file's identity, as the view knows it
    QString name;     // its type comes from its extension
    bool knownDamaged = false;
    ThumbnailReader read;
};

class ThumbnailService : public QObject {
    Q_OBJECT

  public:
    struct Limits {
        qint64 cacheBytes = 96ll << 20;   // decoded thumbnails kept
        qint64 maxFileBytes = 64ll << 20;  // a larger file is shown from what this many give
        int maxPending = 512;              // requests waiting; the oldest beyond are dropped
        int decodeThreads = 0;             // 0: one less than the processors, at least one
    };

    explicit ThumbnailService(ThumbnailOptions options, QObject* parent = nullptr);
    ThumbnailService(ThumbnailOptions options, Limits limits, QObject* parent = nullptr);
    ~ThumbnailService() override;
    ThumbnailService(const ThumbnailService&) = delete;
    ThumbnailService& operator=(const ThumbnailService&) = delete;

    // The thumbnail made for the key, if it is in the cache.
    // Valid until the next call that changes the service.
    const Thumbnail* Find(quint64 key);
    // Asks for a thumbnail: nothing happens when it is cached or already asked for; else it is
    // made and ThumbnailReady tells when.
    void Request(ThumbnailRequest request);
    // Forgets the requests not yet started and every cached thumbnail (another source's files
    // are shown next), and returns once no reader function runs any more: what the readers
    // use may then go. Decoding already started still ends, unseen.
    void Clear();
    // Forgets the requests not yet started; the cached thumbnails stay.
    void ForgetPending();
    // True when no request waits and no reader function runs. Only the window's thread asks
    // for thumbnails, so an idle service stays idle until it asks again.
    bool Idle() const;

    // While a hold lives no reader function runs: its constructor waits for the one running to
    // return, and requests wait until the last hold goes. For someone else's turn on what the
    // readers read (a preview, a copy, a search on the same engine).
    class ReadHold {
      public:
        explicit ReadHold(ThumbnailService& service);
        ~ReadHold();
        ReadHold(const ReadHold&) = delete;
        ReadHold& operator=(const ReadHold&) = delete;

      private:
        ThumbnailService& service_;
    };

    qint64 CachedBytes() const { return cachedBytes_; }
    int CachedCount() const { return static_cast<int>(cache_.size()); }
    int PendingCount() const;

  signals:
    void ThumbnailReady(quint64 key);
    // A reader function returned and no request waits: what was opened for the reads may be
    // closed (when Idle() still says so).
    void ReadsEnded();

  private:
    struct Pending {
        ThumbnailRequest request;
        quint64 generation = 0;
    };
    struct Cached {
        Thumbnail thumbnail;
        std::list<quint64>::iterator use;  // its place in uses_
    };

    void ReadLoop(std::stop_token stop);
    // On the window's thread: files the decoded thumbnail.
    void Deliver(quint64 generation, quint64 key, const Thumbnail& thumbnail);

    const ThumbnailOptions options_;
    const Limits limits_;
    // The window's thread alone uses these.
    std::unordered_map<quint64, Cached> cache_;
    std::list<quint64> uses_;  // most recently used first
    qint64 cachedBytes_ = 0;
    std::set<quint64> asked_;  // requested, not yet delivered nor dropped

    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<Pending> pending_;  // newest at the back
    quint64 generation_ = 0;       // advanced by Clear; older results are dropped
    int decoding_ = 0;             // read, handed to the pool, not yet done
    bool reading_ = false;         // a reader function runs
    int holds_ = 0;                // ReadHolds alive
    QThreadPool pool_;
    std::jthread reader_;
};

}  // namespace keltra
