// A disk that really fails, for the tests: nbdkit serves an image with its ddrescue filter (reads
// of the areas a mapfile marks bad fail with EIO) and any other filters asked for (error,
// delay, rate), and nbdfuse shows it as a file, so every read goes through the kernel and fails
// there as a bad disk's read does. Started by the constructor, unmounted by the destructor.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace keltra::test {

class FailingDevice {
  public:
    // Serves `image` with the bad areas of `badMap` (a ddrescue mapfile: areas not marked '+'
    // fail). `filters` go before the ddrescue filter, as "name" or "name:param=value,...".
    FailingDevice(const std::string& image, const std::string& badMap,
                  const std::vector<std::string>& filters = {});
    ~FailingDevice();
    FailingDevice(const FailingDevice&) = delete;
    FailingDevice& operator=(const FailingDevice&) = delete;

    // Why FUSE cannot be used here (no /dev/fuse), or nothing.
    static std::string Unavailable();

    bool Valid() const { return error_.empty(); }
    const std::string& Error() const { return error_; }
    // The device as a file.
    std::string Path() const { return mount_ / "disk"; }
    // Pulls the plug: the server ends, and every later read fails as on a vanished device.
    void Unplug();

  private:
    void Unmount();

    ScratchDir mount_;
    pid_t pid_ = -1;
    std::string error_;
};

// Runs a program (no shell) with its output to /dev/null; its exit code, or 128 + signal.
int RunProgram(const std::vector<std::string>& args);

// Starts the keltra binary with the arguments, output to /dev/null; its process id.
pid_t StartKeltra(const std::vector<std::string>& args);

}  // namespace keltra::test
