#include "app/thumbnail_service.h"

#include <algorithm>

#include "engines/photo/photo_metadata.h"

namespace keltra {

namespace {

int DecodeThreads(int asked) {
    if (asked > 0) return asked;
    return std::max(1, QThread::idealThreadCount() - 1);
}

}  // namespace

ThumbnailService::ThumbnailService(ThumbnailOptions options, QObject* parent)
    : ThumbnailService(std::move(options), Limits(), parent) {}

ThumbnailService::ThumbnailService(ThumbnailOptions options, Limits limits, QObject* parent)
    : QObject(parent), options_(std::move(options)), limits_(limits) {
    pool_.setMaxThreadCount(DecodeThreads(limits_.decodeThreads));
    reader_ = std::jthread([this](std::stop_token stop) { ReadLoop(stop); });
}

ThumbnailService::~ThumbnailService() {
    reader_.request_stop();
    wake_.notify_all();
    reader_.join();
    pool_.clear();
    pool_.waitForDone();
}

const Thumbnail* ThumbnailService::Find(quint64 key) {
    const auto it = cache_.find(key);
    if (it == cache_.end()) return nullptr;
    uses_.splice(uses_.begin(), uses_, it->second.use);
    return &it->second.thumbnail;
}

void ThumbnailService::Request(ThumbnailRequest request) {
    if (cache_.contains(request.key) || !asked_.insert(request.key).second) return;
    {
        std::lock_guard lock(mutex_);
        pending_.push_back({std::move(request), generation_});
        while (static_cast<int>(pending_.size()) > limits_.maxPending) {
            asked_.erase(pending_.front().request.key);
            pending_.pop_front();
        }
    }
    wake_.notify_all();
}

void ThumbnailService::Clear() {
    std::unique_lock lock(mutex_);
    pending_.clear();
    ++generation_;
    wake_.wait(lock, [this] { return !reading_; });
    lock.unlock();
    asked_.clear();
    cache_.clear();
    uses_.clear();
    cachedBytes_ = 0;
}

void ThumbnailService::ForgetPending() {
    std::lock_guard lock(mutex_);
    for (const Pending& pending : pending_) asked_.erase(pending.request.key);
    pending_.clear();
}

bool ThumbnailService::Idle() const {
    std::lock_guard lock(mutex_);
    return pending_.empty() && !reading_;
}

ThumbnailService::ReadHold::ReadHold(ThumbnailService& service) : service_(service) {
    std::unique_lock lock(service_.mutex_);
    ++service_.holds_;
    service_.wake_.wait(lock, [this] { return !service_.reading_; });
}

ThumbnailService::ReadHold::~ReadHold() {
    {
        std::lock_guard lock(service_.mutex_);
        --service_.holds_;
    }
    service_.wake_.notify_all();
}

int ThumbnailService::PendingCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(pending_.size());
}

void ThumbnailService::ReadLoop(std::stop_token stop) {
    // Files read but not yet decoded are bounded, and with them the memory of their bytes.
    const int maxDecoding = pool_.maxThreadCount() + 2;
    for (;;) {
        Pending job;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [&] {
                    return !pending_.empty() && decoding_ < maxDecoding && holds_ == 0;
                })) {
                return;
            }
            job = std::move(pending_.back());
            pending_.pop_back();
            ++decoding_;
            reading_ = true;
        }
        // A camera's picture carries a small preview in its first bytes; a large file is read
        // whole only when that preview is missing or too small.
        const qint64 headBytes = static_cast<qint64>(kPhotoMetadataHeadBytes);
        QByteArray bytes = job.request.read(headBytes);
        std::optional<Thumbnail> early;
        if (bytes.size() >= headBytes) {
            early = ThumbnailFromHead(bytes, job.request.name, options_.edge * 3 / 4, options_);
            if (!early) bytes = job.request.read(limits_.maxFileBytes);
        }
        bool ended = false;
        {
            std::lock_guard lock(mutex_);
            reading_ = false;
            ended = pending_.empty();
        }
        wake_.notify_all();
        if (ended) {
            QMetaObject::invokeMethod(this, &ThumbnailService::ReadsEnded, Qt::QueuedConnection);
        }
        auto finish = [this, job = std::move(job), bytes = std::move(bytes),
                       early = std::move(early)] {
            Thumbnail thumbnail =
                early ? *early
                      : DecodeThumbnail(bytes, job.request.name, job.request.knownDamaged, options_);
            thumbnail.damaged = thumbnail.damaged || job.request.knownDamaged;
            QMetaObject::invokeMethod(
                this,
                [this, generation = job.generation, key = job.request.key,
                 thumbnail = std::move(thumbnail)] { Deliver(generation, key, thumbnail); },
                Qt::QueuedConnection);
            {
                std::lock_guard lock(mutex_);
                --decoding_;
            }
            wake_.notify_all();
        };
        pool_.start(std::move(finish));
    }
}

void ThumbnailService::Deliver(quint64 generation, quint64 key, const Thumbnail& thumbnail) {
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) return;
    }
    asked_.erase(key);
    if (cache_.contains(key)) return;
    uses_.push_front(key);
    cache_.emplace(key, Cached{thumbnail, uses_.begin()});
    cachedBytes_ += thumbnail.Cost();
    while (cachedBytes_ > limits_.cacheBytes && uses_.size() > 1) {
        const auto last = cache_.find(uses_.back());
        cachedBytes_ -= last->second.thumbnail.Cost();
        cache_.erase(last);
        uses_.pop_back();
    }
    emit ThumbnailReady(key);
}

}  // namespace keltra
