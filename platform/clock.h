// Time: a millisecond tick counter, local time split into fields, and FILETIME conversion.
#pragma once

#include <cstdint>
#include <ctime>

namespace keltra {

struct LocalTimeFields {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;    // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Milliseconds since an arbitrary start, never going backwards.
uint64_t TickCountMs();

LocalTimeFields LocalTimeNow();

// 100-nanosecond intervals since 1601-01-01 UTC.
uint64_t FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds);
// Seconds since 1970 (UTC) of a FILETIME; FILETIMEs before 1970 give negative values.
int64_t UnixFromFileTime(uint64_t fileTime);

}  // namespace keltra
