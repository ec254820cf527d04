// The quick engine of an Ext volume: it only remembers where the volume is, so a quick scan of
// an Ext volume ends at once with nothing found.
#pragma once

#include "engines/file_recovery_parse.h"
#include "storage/sector_source.h"

namespace keltra {

class CFastExtRecovery final : public IFileRecoveryParse {
  public:
    Status OpenImage(const std::string&, uint16_t) override { return kOk; }
    Status OpenImageVolume(const std::string&, uint64_t, uint64_t, uint16_t) override {
        return kOk;
    }
    Status OpenPartition(int diskNumber, uint64_t startSector, uint64_t sectorCount,
                         uint16_t driveLetter) override;
    Status SetCallbacks(ScanProgressCallback, CopyProgressCallback, void*, int) override {
        return kOk;
    }
    Status Scan(const std::optional<std::string>&) override { return kOk; }
    Status ListFolder(const FoundRecord*, int, std::vector<FoundRecord>&) override { return kOk; }
    Status CountFolderFiles(const FoundRecord*, int, uint32_t& count) override {
        count = 0;
        return kOk;
    }
    uint64_t GetRecordCount() override { return 0; }
    Status GetRecordPath(const FoundRecord&, std::string& path) override {
        path.clear();
        return kOk;
    }
    Status RecoverRecord(const FoundRecord&, const std::string&, int) override { return kOk; }
    int NextFreeRange(uint64_t&, uint64_t&) override { return 0; }
    Status SetSearchCallback(SearchProgressCallback, void*) override { return kOk; }
    Status FindByExtensions(const std::string&, std::vector<FoundRecord>&) override { return kOk; }
    Status LoadVolumeBitmap() override { return kOk; }
    Status ReadRecordData(const FoundRecord&, std::string&, std::span<std::byte>, uint32_t& size,
                          PreviewCallback, void*) override {
        size = 0;
        return kOk;
    }

  private:
    SectorSource source_;
    uint64_t startSector_ = 0;
    uint64_t sectorCount_ = 0;
    uint16_t driveLetter_ = 0;
};

}  // namespace keltra
