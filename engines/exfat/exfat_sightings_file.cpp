#include "engines/exfat/exfat_sightings_file.h"

#include <cstring>
#include <span>

#include "engines/exfat/exfat_directory_sector.h"
#include "platform/file_handle.h"
#include "platform/little_endian.h"

namespace keltra {

namespace {

constexpr char kMagic[] = "KXEXSET1";
constexpr size_t kMagicBytes = 8;
constexpr size_t kDirBytes = 9;
constexpr size_t kSetFixedBytes = 8 + 4 + 1 + 1 + 2 + 8 * 3 + 4 + 1 + 8 + 8 + 2 + 1;
constexpr size_t kUpcaseBytes = 8 + 4 + 8 + 4;
// A sector holds at most 4096 / 32 entries.
constexpr uint32_t kMaxOffset = 4096 - 32;

class Writer {
  public:
    template <typename T>
    void Put(T value) {
        const size_t at = bytes.size();
        bytes.resize(at + sizeof(T));
        StoreLE<T>(bytes, at, value);
    }
    std::vector<std::byte> bytes;
};

class Reader {
  public:
    explicit Reader(std::span<const std::byte> bytes) : bytes_(bytes) {}
    template <typename T>
    bool Get(T& value) {
        if (bytes_.size() - at_ < sizeof(T)) return false;
        value = LoadLE<T>(bytes_, at_);
        at_ += sizeof(T);
        return true;
    }
    size_t Left() const { return bytes_.size() - at_; }

  private:
    std::span<const std::byte> bytes_;
    size_t at_ = 0;
};

}  // namespace

std::string ExFatSightingsPath(const std::string& logPath) {
    return logPath + "_ExFatSets";
}

Status SaveExFatSightings(const std::string& path, const std::vector<ExFatDirSighting>& dirs,
                          const std::vector<ExFatFoundSet>& sets,
                          const std::vector<ExFatUpcaseSighting>& upcases) {
    Writer w;
    w.bytes.resize(kMagicBytes);
    std::memcpy(w.bytes.data(), kMagic, kMagicBytes);
    w.Put<uint32_t>(static_cast<uint32_t>(dirs.size()));
    w.Put<uint32_t>(static_cast<uint32_t>(sets.size()));
    for (const ExFatDirSighting& d : dirs) {
        w.Put<uint64_t>(d.sector);
        w.Put<uint8_t>(static_cast<uint8_t>((d.startsWithPrimary ? 1 : 0) |
                                            (d.endOfDirectory ? 2 : 0) | (d.rootEntries ? 4 : 0)));
    }
    for (const ExFatFoundSet& f : sets) {
        const ExFatEntrySet& s = f.set;
        w.Put<uint64_t>(f.sector);
        w.Put<uint32_t>(f.offset);
        w.Put<uint8_t>(s.deleted ? 1 : 0);
        w.Put<uint8_t>(static_cast<uint8_t>(s.entryCount));
        w.Put<uint16_t>(s.attributes);
        w.Put<uint64_t>(s.created);
        w.Put<uint64_t>(s.modified);
        w.Put<uint64_t>(s.accessed);
        w.Put<uint32_t>(s.stream.firstCluster);
        w.Put<uint8_t>(s.stream.noFatChain ? 1 : 0);
        w.Put<uint64_t>(s.stream.validLength);
        w.Put<uint64_t>(s.stream.length);
        w.Put<uint16_t>(s.nameHash);
        w.Put<uint8_t>(static_cast<uint8_t>(s.name.size()));
        for (const char16_t c : s.name) w.Put<uint16_t>(static_cast<uint16_t>(c));
    }
    w.Put<uint32_t>(static_cast<uint32_t>(upcases.size()));
    for (const ExFatUpcaseSighting& u : upcases) {
        w.Put<uint64_t>(u.sector);
        w.Put<uint32_t>(u.table.firstCluster);
        w.Put<uint64_t>(u.table.length);
        w.Put<uint32_t>(u.checksum);
    }
    FileHandle file;
    if (const Status s = FileHandle::CreateForWriting(path, file); s != kOk) return s;
    return file.WriteAllAt(0, w.bytes);
}

bool LoadExFatSightings(const std::string& path, std::vector<ExFatDirSighting>& dirs,
                        std::vector<ExFatFoundSet>& sets, std::vector<ExFatUpcaseSighting>& upcases) {
    FileHandle file;
    uint64_t size = 0;
    if (FileHandle::OpenForReading(path, file) != kOk || file.Size(size) != kOk ||
        size < kMagicBytes + 8 || size > (uint64_t{1} << 32)) {
        return false;
    }
    std::vector<std::byte> bytes(static_cast<size_t>(size));
    size_t done = 0;
    if (file.ReadAt(0, bytes, done) != kOk || done != bytes.size() ||
        std::memcmp(bytes.data(), kMagic, kMagicBytes) != 0) {
        return false;
    }
    Reader r(std::span<const std::byte>(bytes).subspan(kMagicBytes));
    uint32_t dirCount = 0;
    uint32_t setCount = 0;
    r.Get(dirCount);
    r.Get(setCount);
    if (uint64_t{dirCount} * kDirBytes + uint64_t{setCount} * kSetFixedBytes > r.Left())
        return false;
    std::vector<ExFatDirSighting> newDirs;
    std::vector<ExFatFoundSet> newSets;
    newDirs.reserve(dirCount);
    for (uint32_t i = 0; i < dirCount; ++i) {
        ExFatDirSighting d;
        uint8_t flags = 0;
        if (!r.Get(d.sector) || !r.Get(flags) || flags > 7) return false;
        d.startsWithPrimary = (flags & 1) != 0;
        d.endOfDirectory = (flags & 2) != 0;
        d.rootEntries = (flags & 4) != 0;
        newDirs.push_back(d);
    }
    for (uint32_t i = 0; i < setCount; ++i) {
        ExFatFoundSet f;
        ExFatEntrySet& s = f.set;
        uint8_t deleted = 0;
        uint8_t entries = 0;
        uint8_t noFatChain = 0;
        uint8_t nameLength = 0;
        if (!r.Get(f.sector) || !r.Get(f.offset) || !r.Get(deleted) || !r.Get(entries) ||
            !r.Get(s.attributes) || !r.Get(s.created) || !r.Get(s.modified) ||
            !r.Get(s.accessed) || !r.Get(s.stream.firstCluster) || !r.Get(noFatChain) ||
            !r.Get(s.stream.validLength) || !r.Get(s.stream.length) || !r.Get(s.nameHash) ||
            !r.Get(nameLength)) {
            return false;
        }
        if (deleted > 1 || noFatChain > 1 || f.offset > kMaxOffset || f.offset % 32 != 0 ||
            entries < 3 || entries > kExFatMaxSetEntries || nameLength == 0 ||
            s.stream.validLength > s.stream.length) {
            return false;
        }
        s.deleted = deleted != 0;
        s.entryCount = entries;
        s.stream.noFatChain = noFatChain != 0;
        s.checksumMatches = true;
        for (uint8_t c = 0; c < nameLength; ++c) {
            uint16_t unit = 0;
            if (!r.Get(unit)) return false;
            s.name.push_back(static_cast<char16_t>(unit));
        }
        if (!IsSoundExFatSet(s)) return false;
        newSets.push_back(std::move(f));
    }
    std::vector<ExFatUpcaseSighting> newUpcases;
    if (r.Left() != 0) {
        uint32_t upcaseCount = 0;
        if (!r.Get(upcaseCount) || upcaseCount > kExFatMaxUpcaseSightings ||
            uint64_t{upcaseCount} * kUpcaseBytes != r.Left()) {
            return false;
        }
        for (uint32_t i = 0; i < upcaseCount; ++i) {
            ExFatUpcaseSighting u;
            r.Get(u.sector);
            r.Get(u.table.firstCluster);
            r.Get(u.table.length);
            r.Get(u.checksum);
            newUpcases.push_back(u);
        }
    }
    upcases.insert(upcases.end(), newUpcases.begin(), newUpcases.end());
    dirs.insert(dirs.end(), newDirs.begin(), newDirs.end());
    sets.insert(sets.end(), std::make_move_iterator(newSets.begin()),
                std::make_move_iterator(newSets.end()));
    return true;
}

}  // namespace keltra
