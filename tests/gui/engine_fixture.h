// Engines of fixture images for the window tests, and an engine that holds its copying back
// until the test lets it go on.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engines/factory/engine_factory.h"
#include "engines/scan_engine.h"

namespace keltra::test {

// The quick engine of a fixture image, scanned, with source tag `tag`; null when the fixture
// is missing.
std::unique_ptr<ScanEngine> ScannedImageEngine(const std::string& fixture, uint16_t tag);

// Every file record of the engine whose name ends in one of the list's extensions.
std::vector<FoundRecord> FindFiles(ScanEngine& engine, const std::string& extensions);

// The record named `name`, or an empty record.
FoundRecord Named(const std::vector<FoundRecord>& records, std::string_view name);

// Passes every operation to `inner`; RecoverRecord and ReadRecordData first wait until
// Release() was called, or until ReleaseOne() lets one of them through.
class HeldEngine : public ScanEngine {
  public:
    explicit HeldEngine(ScanEngine& inner) : inner_(inner) {}
    void Release() { released_ = true; }
    void ReleaseOne() { ++permits_; }
    bool Waiting() const { return waiting_; }

    Status Open(const SourceRef& s) override { return inner_.Open(s); }
    void SetCallbacks(ScanProgressCallback s, CopyProgressCallback c, void* u, int w) override {
        inner_.SetCallbacks(s, c, u, w);
    }
    Status Scan(const std::optional<std::string>& n) override { return inner_.Scan(n); }
    Status ListFolder(const FoundRecord* f, int d, std::vector<FoundRecord>& o) override {
        return inner_.ListFolder(f, d, o);
    }
    Status CountFolderFiles(const FoundRecord* f, int d, uint32_t& c) override {
        return inner_.CountFolderFiles(f, d, c);
    }
    uint64_t GetRecordCount() override { return inner_.GetRecordCount(); }
    uint64_t GetFileCount() override { return inner_.GetFileCount(); }
    Status GetRecordPath(const FoundRecord& r, std::string& p) override {
        return inner_.GetRecordPath(r, p);
    }
    Status RecoverRecord(const FoundRecord& r, const std::string& d, int s) override {
        Hold();
        return inner_.RecoverRecord(r, d, s);
    }
    void SetSearchCallback(SearchProgressCallback c, void* u) override {
        inner_.SetSearchCallback(c, u);
    }
    Status FindByExtensions(const std::string& e, std::vector<FoundRecord>& o) override {
        return inner_.FindByExtensions(e, o);
    }
    Status ReadRecordHead(const FoundRecord& r, std::span<std::byte> o, size_t& g) override {
        return inner_.ReadRecordHead(r, o, g);
    }
    uint64_t UnreadableSectors() const override { return inner_.UnreadableSectors(); }
    void CloseSource() override { inner_.CloseSource(); }
    Status ReopenSource() override { return inner_.ReopenSource(); }
    Status ReadRecordData(const FoundRecord& r, std::string& t, std::span<std::byte> b, uint32_t& s,
                          PreviewCallback c, void* u) override {
        Hold();
        return inner_.ReadRecordData(r, t, b, s, c, u);
    }

  private:
    void Hold() {
        waiting_ = true;
        while (!released_) {
            int permits = permits_;
            if (permits > 0 && permits_.compare_exchange_weak(permits, permits - 1)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        waiting_ = false;
    }

    ScanEngine& inner_;
    std::atomic<bool> released_{false};
    std::atomic<int> permits_{0};
    std::atomic<bool> waiting_{false};
};

}  // namespace keltra::test
