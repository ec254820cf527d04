#include "platform/clock.h"

#include <chrono>

namespace keltra {

namespace {
constexpr int64_t kFileTimeUnixEpoch = 116444736000000000LL;  // 1970-01-01 in FILETIME
constexpr int64_t kTicksPerSecond = 10000000;
}  // namespace

uint64_t TickCountMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

LocalTimeFields LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

uint64_t FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
    return static_cast<uint64_t>(kFileTimeUnixEpoch + seconds * kTicksPerSecond +
                                 nanoseconds / 100);
}

int64_t UnixFromFileTime(uint64_t fileTime) {
    return (static_cast<int64_t>(fileTime) - kFileTimeUnixEpoch) / kTicksPerSecond;
}

}  // namespace keltra
