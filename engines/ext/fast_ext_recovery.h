// The quick engine of an Ext volume. An ext2/3/4 file system erases a deleted file's block list,
// so a quick scan finds nothing (it ends at once); what it gives is the volume's block bitmap,
// so that a deep scan reads only the free blocks.
#pragma once

#include "engines/ext/ext_block_bitmap.h"
#include "engines/file_recovery_parse.h"
#include "storage/sector_source.h"

namespace keltra {

class CFastExtRecovery final : public IFileRecoveryParse {
  public:
    void CloseSource() override { SuspendSource(source_); }
    Status ReopenSource() override { return ResumeSource(source_); }
    Status OpenImage(const std::string& imagePath, uint16_t sourceTag) override;
    Status OpenImageVolume(const std::string& imagePath, uint64_t startSector, uint64_t sectorCount,
                           uint16_t sourceTag) override;
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
    // The free runs of the loaded bitmap (everything when it could not be loaded).
    int NextFreeRange(uint64_t& position, uint64_t& length) override;
    Status SetSearchCallback(SearchProgressCallback, void*) override { return kOk; }
    Status FindByExtensions(const std::string&, std::vector<FoundRecord>&) override { return kOk; }
    // Reads the block bitmaps; 87 when the volume's superblock cannot be read.
    Status LoadVolumeBitmap() override;
    Status ReadRecordData(const FoundRecord&, std::string&, std::span<std::byte>, uint32_t& size,
                          PreviewCallback, void*) override {
        size = 0;
        return kOk;
    }

  private:
    SectorSource source_;
    uint32_t sectorSize_ = kImageSectorSize;
    uint64_t startSector_ = 0;
    uint64_t sectorCount_ = 0;
    ExtBlockBitmap bitmap_;
};

}  // namespace keltra
