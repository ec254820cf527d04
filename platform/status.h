// Status codes. The program reports failures with the Windows error numbers that its callers
// test for; on Linux every errno is mapped to the matching number here.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <type_traits>

namespace keltra {

// The outcome of an operation: 0 for success, else one of the numbers below. A status that is
// returned must be looked at: dropping one is a compile error unless IgnoreStatus says why. The
// number is what scan logs, state files and messages hold; value() gives it where it is stored
// or shown.
class [[nodiscard]] Status {
  public:
    constexpr Status() = default;
    constexpr Status(int32_t code) : code_(code) {}  // a number read back or returned

    constexpr int32_t value() const { return code_; }
    constexpr bool ok() const { return code_ == 0; }
    constexpr explicit operator int32_t() const { return code_; }

    friend constexpr bool operator==(Status, Status) = default;

  private:
    int32_t code_ = 0;
};
static_assert(sizeof(Status) == sizeof(int32_t) && std::is_trivially_copyable_v<Status>,
              "a status is stored as its 32-bit number");

// Drops a status on purpose; `why` tells the reader why its failure cannot matter at that call.
constexpr void IgnoreStatus(Status, std::string_view why) {
    static_cast<void>(why);
}

inline constexpr Status kOk = 0;
inline constexpr Status kErrInvalidFunction = 1;
inline constexpr Status kErrFileNotFound = 2;
inline constexpr Status kErrPathNotFound = 3;
inline constexpr Status kErrTooManyOpenFiles = 4;
inline constexpr Status kErrAccessDenied = 5;
inline constexpr Status kErrNotEnoughMemory = 8;
inline constexpr Status kErrNotSameDevice = 17;
inline constexpr Status kErrWriteProtect = 19;
inline constexpr Status kErrNotReady = 21;
inline constexpr Status kErrWriteFault = 29;  // also: a cluster too large to copy
inline constexpr Status kErrReadFault = 30;
inline constexpr Status kErrSharingViolation = 32;
inline constexpr Status kErrHandleEof = 38;
inline constexpr Status kErrNotSupported = 50;
inline constexpr Status kErrFileExists = 80;
inline constexpr Status kErrInvalidParameter = 87;
inline constexpr Status kErrDiskFull = 112;
inline constexpr Status kErrInsufficientBuffer = 122;
inline constexpr Status kErrDirNotEmpty = 145;
inline constexpr Status kErrAlreadyExists = 183;
inline constexpr Status kErrFilenameTooLong = 206;
inline constexpr Status kErrFileTooLarge = 223;
inline constexpr Status kErrMoreData = 234;
inline constexpr Status kErrIoDevice = 1117;
inline constexpr Status kErrFileCorrupt = 1392;
inline constexpr Status kErrCantResolveFilename = 1921;
// Stopped through a callback because the user cancelled; tested for exactly.
inline constexpr Status kCancelled = -9527;

// The Windows number for an errno value. `isFolder` picks 183 over 80 for EEXIST, as creating a
// folder that exists reports "already exists" while creating a file reports "file exists".
Status StatusFromErrno(int err, bool isFolder = false);

// StatusFromErrno(errno).
Status LastStatus(bool isFolder = false);

// What the system says of a status, in its English wording ("No such file or directory"),
// followed by the status number: "No such file or directory (status 2)".
std::string StatusMessage(Status status);

// The status number, as test failures and logs print it.
std::ostream& operator<<(std::ostream& out, Status status);

}  // namespace keltra
