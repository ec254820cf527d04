#include "support/test_support.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>

#include "scanlog/scan_history.h"
#include "scanlog/scan_log_folder.h"

namespace keltra::test {

namespace fs = std::filesystem;

std::string FixturePath(const std::string& name) {
    return std::string(KELTRA_FIXTURE_DIR) + "/" + name;
}

std::string TestDataPath(const std::string& name) {
    return std::string(KELTRA_TEST_DATA_DIR) + "/" + name;
}

ScratchDir::ScratchDir() {
    std::string tmpl = (fs::temp_directory_path() / "keltra-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

ScopedAppDataFolder::ScopedAppDataFolder() {
    if (const char* old = std::getenv("XDG_DATA_HOME"); old != nullptr) {
        saved_ = old;
        hadValue_ = true;
    }
    ::setenv("XDG_DATA_HOME", dir_.Path().c_str(), 1);
    // The process-wide history was made on the folder of the first test that used it; each
    // test starts with an empty history of its own.
    IgnoreStatus(ScanHistory::Instance().UseFolder(ScanLogFolder()),
                 "a new folder holds no history yet");
}

ScopedAppDataFolder::~ScopedAppDataFolder() {
    if (hadValue_) {
        ::setenv("XDG_DATA_HOME", saved_.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}

namespace {

std::string RunCapture(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return out;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe.get())) > 0) out.append(buf.data(), n);
    return out;
}

std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

}  // namespace

namespace {
int loopHolders = 0;  // LoopDevices alive in this process
int loopLockFd = -1;  // held while any of them is alive
}  // namespace

LoopDevice::LoopDevice(const std::string& file, bool partitionScan) {
    if (loopHolders++ == 0) {
        loopLockFd = ::open("/tmp/keltra-test-loop.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (loopLockFd >= 0) ::flock(loopLockFd, LOCK_EX);
    }
    std::string dev =
        RunCapture(std::string("losetup --find --show --read-only ") +
                   (partitionScan ? "--partscan " : "") + ShellQuote(file) + " 2>/dev/null");
    while (!dev.empty() && (dev.back() == '\n' || dev.back() == ' ')) dev.pop_back();
    if (dev.rfind("/dev/", 0) != 0) return;
    device_ = dev;
    // Kernels without the table's parser leave the partitions to user space.
    if (partitionScan) RunCapture("partx -a " + ShellQuote(device_) + " 2>/dev/null");
}

LoopDevice::~LoopDevice() {
    if (!device_.empty()) RunCapture("losetup -d " + ShellQuote(device_) + " 2>/dev/null");
    if (--loopHolders == 0 && loopLockFd >= 0) {
        ::close(loopLockFd);  // releases the lock
        loopLockFd = -1;
    }
}

Status MemoryReader::ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) {
    ++calls;
    offsets.push_back(offset);
    sizes.push_back(buffer.size());
    done = 0;
    if (offset >= faultFrom_) return kErrIoDevice;
    if (offset >= bytes_.size()) return kOk;
    uint64_t n = std::min<uint64_t>(buffer.size(), bytes_.size() - offset);
    n = std::min<uint64_t>(n, faultFrom_ - offset);
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), n, buffer.begin());
    done = static_cast<size_t>(n);
    return kOk;
}

std::vector<std::byte> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::byte> bytes(chars.size());
    if (!chars.empty()) std::memcpy(bytes.data(), chars.data(), chars.size());
    return bytes;
}

void WriteWholeFile(const std::string& path, std::span<const std::byte> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::string Sha256OfFile(const std::string& path) {
    const std::string line = RunCapture("sha256sum " + ShellQuote(path));
    return line.substr(0, line.find(' '));
}

CommandResult RunKeltra(const std::vector<std::string>& args,
                        const std::vector<std::string>& extraEnv) {
    ScratchDir dir;
    const std::string outPath = dir / "out", errPath = dir / "err";
    CommandResult result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        for (const std::string& kv : extraEnv) ::putenv(const_cast<char*>(kv.c_str()));
        std::vector<char*> argv;
        std::string binary = KELTRA_BINARY;
        argv.push_back(binary.data());
        std::vector<std::string> copies = args;
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(binary.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    auto slurp = [](const std::string& p) {
        std::ifstream in(p);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    };
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    return result;
}

int DescriptorsOn(const std::string& path) {
    std::error_code error;
    const std::filesystem::path wanted = std::filesystem::canonical(path, error);
    if (error) return 0;
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && target == wanted) ++count;
    }
    return count;
}

}  // namespace keltra::test
