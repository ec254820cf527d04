// Helpers shared by the tests: fixture paths, scratch folders, loop devices, memory sources,
// and running the `keltra` binary.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "storage/sector_source.h"

namespace keltra::test {

// Path of a fixture image made by tests/fixtures/make_*.sh.
std::string FixturePath(const std::string& name);
// Path of a committed test file under tests/data/.
std::string TestDataPath(const std::string& name);

// A fresh folder removed with everything in it at the end of the test.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Points the application-data folder ($XDG_DATA_HOME) at a fresh scratch folder for the
// object's lifetime, so that ScanLog files of a test never touch the user's own, and the
// process-wide scan history at the ScanLog folder inside it (empty: no earlier test's scans).
class ScopedAppDataFolder {
  public:
    ScopedAppDataFolder();
    ~ScopedAppDataFolder();
    ScopedAppDataFolder(const ScopedAppDataFolder&) = delete;
    ScopedAppDataFolder& operator=(const ScopedAppDataFolder&) = delete;
    const std::filesystem::path& Path() const { return dir_.Path(); }

  private:
    ScratchDir dir_;
    std::string saved_;
    bool hadValue_ = false;
};

// A read-only loop device over a file, detached at the end. Valid() is false when loop devices
// cannot be made here (not root, no loop support). Attaching a loop device renumbers the disks,
// so while any LoopDevice is alive in a test process, the others wait (a lock shared by all
// test processes). With `partitionScan` the partitions of the file's table get device nodes
// (/dev/loopNpM), by the kernel or, where it lacks the table's parser, by partx.
class LoopDevice {
  public:
    explicit LoopDevice(const std::string& file, bool partitionScan = false);
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    bool Valid() const { return !device_.empty(); }
    const std::string& Device() const { return device_; }

  private:
    std::string device_;
};

// Bytes in memory behind a sector source; reads past `faultFrom` (bytes) fail. `calls` counts
// the read calls made, `offsets` holds where each one began.
class MemoryReader : public SectorReader {
  public:
    explicit MemoryReader(std::vector<std::byte> bytes, uint64_t faultFrom = UINT64_MAX)
        : bytes_(std::move(bytes)), faultFrom_(faultFrom) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override;
    uint64_t calls = 0;
    std::vector<uint64_t> offsets;
    std::vector<uint64_t> sizes;  // asked for, per call

  private:
    std::vector<std::byte> bytes_;
    uint64_t faultFrom_;
};

std::vector<std::byte> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, std::span<const std::byte> bytes);
std::string Sha256OfFile(const std::string& path);
// How many descriptors of this process are open on the file (read from /proc/self/fd).
int DescriptorsOn(const std::string& path);

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
// Runs the keltra binary with the arguments (no shell), capturing both streams.
CommandResult RunKeltra(const std::vector<std::string>& args,
                        const std::vector<std::string>& extraEnv = {});

}  // namespace keltra::test
