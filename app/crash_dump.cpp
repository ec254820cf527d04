#include "app/crash_dump.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace keltra {

namespace {

// Everything the handler touches is prepared before a fault: it may only make
// async-signal-safe calls, so it neither allocates nor reads the time zone.
constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kAltStackSize = 256 * 1024;  // room for the sanitizers' own frames too
alignas(16) std::array<std::byte, kAltStackSize> gAltStack;
long gUtcOffsetSeconds = 0;  // local time minus UTC, taken when the handler is installed

// A small fixed buffer that is filled with text and written out with write(2).
class DumpWriter {
  public:
    explicit DumpWriter(int fd) : fd_(fd) {}
    ~DumpWriter() { Flush(); }
    DumpWriter& Text(const char* text) {
        while (*text != '\0') Put(*text++);
        return *this;
    }
    DumpWriter& Number(uint64_t value) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0) Put(digits[--n]);
        return *this;
    }
    DumpWriter& Hex(uint64_t value) {
        Text("0x");
        for (int shift = 60; shift >= 0; shift -= 4) Put("0123456789abcdef"[(value >> shift) & 15]);
        return *this;
    }
    void Flush() {
        size_t done = 0;
        while (done < used_) {
            const ssize_t n = ::write(fd_, buffer_ + done, used_ - done);
            if (n <= 0 && errno != EINTR) break;
            if (n > 0) done += static_cast<size_t>(n);
        }
        used_ = 0;
    }

  private:
    void Put(char c) {
        if (used_ == sizeof buffer_) Flush();
        buffer_[used_++] = c;
    }
    int fd_;
    char buffer_[512];
    size_t used_ = 0;
};

const char* SignalName(int sig) {
    switch (sig) {
        case SIGSEGV:
            return "SIGSEGV (invalid memory access)";
        case SIGBUS:
            return "SIGBUS (bus error)";
        case SIGFPE:
            return "SIGFPE (arithmetic fault)";
        case SIGILL:
            return "SIGILL (illegal instruction)";
        case SIGABRT:
            return "SIGABRT (abort)";
        default:
            return "signal";
    }
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void CivilFromDays(int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

LocalTimeFields LocalTimeInHandler() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t local = static_cast<int64_t>(now.tv_sec) + gUtcOffsetSeconds;
    int64_t days = local / 86400;
    int64_t seconds = local % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    LocalTimeFields t;
    CivilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(seconds / 3600);
    t.minute = static_cast<int>(seconds / 60 % 60);
    t.second = static_cast<int>(seconds % 60);
    return t;
}

// "<folder>/<name>" built into `out` without allocating.
void DumpPath(const LocalTimeFields& t, char (&out)[128]) {
    size_t n = 0;
    auto put = [&](const char* text) {
        while (*text != '\0' && n + 1 < sizeof out) out[n++] = *text++;
    };
    auto number = [&](int value) {
        char digits[12];
        int d = 0;
        unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
        do {
            digits[d++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        while (d > 0 && n + 1 < sizeof out) out[n++] = digits[--d];
    };
    put(kCrashDumpFolder);
    put("/");
    number(t.year), put("-"), number(t.month), put("-"), number(t.day), put("&");
    number(t.hour), put("-"), number(t.minute), put("-"), number(t.second), put(".dmp");
    out[n] = '\0';
}

void WriteCrashDump(int sig, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    ::mkdir(kCrashDumpFolder, 0755);  // an existing folder is fine
    char path[128];
    const LocalTimeFields time = LocalTimeInHandler();
    DumpPath(time, path);
    // The report folder may lie where others can write: neither it nor the report is reached
    // through a link, and an existing file is never replaced.
    const int folderFd = ::open(kCrashDumpFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int fd = folderFd < 0
                       ? -1
                       : ::openat(folderFd, path + std::strlen(kCrashDumpFolder) + 1,
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (folderFd >= 0) ::close(folderFd);
    if (fd >= 0) {
        {
            DumpWriter out(fd);
            out.Text("Keltra Photo Recovery crash dump\n");
            out.Text("time: ").Text(path + std::strlen(kCrashDumpFolder) + 1).Text("\n");
            out.Text("signal: ").Number(static_cast<uint64_t>(sig)).Text(" ").Text(SignalName(sig));
            out.Text("\ncode: ").Number(static_cast<uint64_t>(info != nullptr ? info->si_code : 0));
            out.Text("\nfault address: ")
                .Hex(reinterpret_cast<uintptr_t>(info != nullptr ? info->si_addr : nullptr));
#if defined(__x86_64__)
            if (context != nullptr) {
                const auto* uc = static_cast<const ucontext_t*>(context);
                out.Text("\ninstruction: ")
                    .Hex(static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RIP]));
                out.Text("\nstack pointer: ")
                    .Hex(static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RSP]));
            }
#else
            (void)context;
#endif
            out.Text("\nprocess: ").Number(static_cast<uint64_t>(::getpid()));
            out.Text("\nthread: ").Number(static_cast<uint64_t>(::syscall(SYS_gettid)));
            out.Text("\n\nbacktrace:\n");
        }
        void* frames[64];
        const int count = ::backtrace(frames, 64);
        ::backtrace_symbols_fd(frames, count, fd);
        { DumpWriter(fd).Text("\nmemory map:\n"); }
        const int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
        if (maps >= 0) {
            char chunk[4096];
            for (ssize_t n; (n = ::read(maps, chunk, sizeof chunk)) > 0;) {
                for (ssize_t done = 0; done < n;) {
                    const ssize_t w = ::write(fd, chunk + done, static_cast<size_t>(n - done));
                    if (w <= 0) break;
                    done += w;
                }
            }
            ::close(maps);
        }
        ::close(fd);
    }
    errno = savedErrno;
    // The handler was reset to the default on entry: the signal, delivered again when this
    // handler returns (or the fault repeated), ends the process.
    ::raise(sig);
}

}  // namespace

std::string CrashDumpName(const LocalTimeFields& time) {
    char path[128];
    DumpPath(time, path);
    return std::string(path + std::strlen(kCrashDumpFolder) + 1);
}

bool InstallCrashHandler() {
    tzset();
    const time_t now = time(nullptr);
    tm local{};
    if (localtime_r(&now, &local) != nullptr) gUtcOffsetSeconds = local.tm_gmtoff;
    // backtrace() loads the unwinder on its first call, which allocates: do that here.
    void* warmUp[4];
    ::backtrace(warmUp, 4);

    stack_t stack{};
    stack.ss_sp = gAltStack.data();
    stack.ss_size = gAltStack.size();
    if (::sigaltstack(&stack, nullptr) != 0) return false;

    struct sigaction action {};
    action.sa_sigaction = WriteCrashDump;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    bool ok = true;
    for (int sig : kSignals) ok = ::sigaction(sig, &action, nullptr) == 0 && ok;
    return ok;
}

}  // namespace keltra
