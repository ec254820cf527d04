#include "support/failing_device.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace keltra::test {

namespace {

pid_t Spawn(const std::string& program, const std::vector<std::string>& args, bool quiet) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (quiet) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        std::vector<std::string> copies = args;
        std::vector<char*> argv;
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(program.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits up to `seconds` for the child; its exit code, 128 + signal, or -1 when still running.
int WaitFor(pid_t pid, double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() > until) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

int RunProgram(const std::vector<std::string>& args) {
    const pid_t pid = Spawn(args.at(0), args, true);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

pid_t StartKeltra(const std::vector<std::string>& args) {
    std::vector<std::string> all{KELTRA_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    return Spawn(KELTRA_BINARY, all, true);
}

std::string FailingDevice::Unavailable() {
    struct stat st {};
    if (::stat("/dev/fuse", &st) != 0) return "no /dev/fuse here: FUSE devices cannot be made";
    return {};
}

FailingDevice::FailingDevice(const std::string& image, const std::string& badMap,
                             const std::vector<std::string>& filters) {
    std::vector<std::string> args{"nbdfuse", "-r", Path(), "[", "nbdkit", "--exit-with-parent"};
    std::vector<std::string> params;
    for (const std::string& f : filters) {
        const size_t colon = f.find(':');
        args.push_back("--filter=" + f.substr(0, colon));
        for (size_t p = colon; p != std::string::npos;) {
            const size_t next = f.find(',', p + 1);
            params.push_back(f.substr(p + 1, next == std::string::npos ? next : next - p - 1));
            p = next;
        }
    }
    args.insert(args.end(), {"--filter=ddrescue", "file", "file=" + image,
                             "ddrescue-mapfile=" + badMap});
    args.insert(args.end(), params.begin(), params.end());
    args.push_back("]");
    pid_ = Spawn("nbdfuse", args, true);
    struct stat imageStat {};
    ::stat(image.c_str(), &imageStat);
    for (int tries = 0; tries < 500; ++tries) {
        struct stat st {};
        if (::stat(Path().c_str(), &st) == 0 && st.st_size == imageStat.st_size) return;
        if (const int code = WaitFor(pid_, 0.02); code >= 0) {
            pid_ = -1;
            error_ = "nbdfuse with nbdkit ended at once with " + std::to_string(code) +
                     " (are the packages nbdkit and libnbd-bin installed?)";
            return;
        }
    }
    error_ = "the nbdfuse device did not appear within 10 seconds";
    Unmount();
}

FailingDevice::~FailingDevice() {
    Unmount();
}

void FailingDevice::Unplug() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        WaitFor(pid_, 10);
        pid_ = -1;
    }
}

void FailingDevice::Unmount() {
    RunProgram({"fusermount3", "-u", "-z", mount_.Path().string()});
    if (pid_ > 0) {
        if (WaitFor(pid_, 10) < 0) {
            ::kill(pid_, SIGKILL);
            WaitFor(pid_, 10);
        }
        pid_ = -1;
    }
}

}  // namespace keltra::test
