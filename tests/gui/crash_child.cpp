// Test child: installs the crash handler, then faults the way the first argument says
// ("segv" writes to a page that may not be written, "abort" aborts).
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "app/crash_dump.h"

int main(int argc, char** argv) {
    if (argc != 2 || !keltra::InstallCrashHandler()) return 2;
    if (std::strcmp(argv[1], "abort") == 0) std::abort();
    if (std::strcmp(argv[1], "segv") == 0) {
        void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED) return 3;
        *static_cast<volatile char*>(page) = 1;
    }
    return 4;
}
