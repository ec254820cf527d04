#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <vector>

#include "cli/commands/command.h"
#include "cli/commands/found_items.h"
#include "cli/commands/found_output.h"
#include "cli/commands/interrupt.h"
#include "cli/commands/scan_session.h"
#include "platform/file_handle.h"

namespace keltra::cli {

namespace {

// The preview hands files other than pictures, audio and video over in memory; this much at
// most.
constexpr uint32_t kMaxBufferedPreview = 64u << 20;

struct CatOptions {
    ScanRequest request;
    std::string path;
};

int OnPreviewProgress(void*, int, int) {
    return InterruptGuard::Requested() ? kCancelled.value() : 0;
}

Status WriteAllToStdout(std::span<const std::byte> data) {
    while (!data.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastStatus();
        }
        data = data.subspan(static_cast<size_t>(n));
    }
    return kOk;
}

Status CopyFileToStdout(const std::string& path) {
    FileHandle file;
    if (const Status s = FileHandle::OpenForReading(path, file); s != kOk) return s;
    std::vector<std::byte> buffer(1 << 16);
    for (uint64_t offset = 0;;) {
        size_t got = 0;
        if (const Status s = file.ReadAt(offset, buffer, got); s != kOk) return s;
        if (got == 0) return kOk;
        if (const Status s = WriteAllToStdout({buffer.data(), got}); s != kOk) return s;
        offset += got;
    }
}

int RunCat(const CatOptions& options) {
    InterruptGuard interrupt;
    std::vector<SourceArgument> sourceArgs;
    if (!ResolveSources(options.request, sourceArgs)) return kExitRuntimeError;
    ScanSession session;
    if (const int code = RunScans(options.request, std::move(sourceArgs), session);
        code != kExitOk) {
        return code;
    }
    if (session.cancelled) {
        std::cerr << "keltra: stopped during the scan\n";
        return kExitRuntimeError;
    }
    // The path names a file; a folder of that name, or files under it, are not what was asked.
    const std::string wanted = NormalizeFoundPath(options.path);
    const std::vector<FoundItem> items = CollectFound(session);
    const auto file = std::find_if(items.begin(), items.end(), [&](const FoundItem& item) {
        return item.record.isFolder == 0 && item.FullPath() == wanted;
    });
    if (file == items.end()) {
        const bool folder = std::any_of(items.begin(), items.end(), [&](const FoundItem& item) {
            return item.FullPath() == wanted;
        });
        std::cerr << "keltra: "
                  << (folder ? "'" + options.path + "' is a folder; give the path of a file"
                             : "nothing was found at '" + options.path + "'")
                  << "\n";
        return kExitRuntimeError;
    }
    const FoundRecord& record = file->record;
    FoundFiles& engine = *session.sources[file->source].engine;
    std::vector<std::byte> buffer(
        static_cast<size_t>(std::min(uint64_t{record.size}, uint64_t{kMaxBufferedPreview})));
    std::string tempPath;
    uint32_t size = static_cast<uint32_t>(buffer.size());
    Status status =
        engine.ReadRecordData(record, tempPath, buffer, size, OnPreviewProgress, nullptr);
    if (status == kOk) {
        if (!tempPath.empty()) {
            status = CopyFileToStdout(tempPath);
            std::error_code ec;
            std::filesystem::remove(tempPath, ec);
        } else {
            status = WriteAllToStdout({buffer.data(), std::min<size_t>(size, buffer.size())});
            if (status == kOk && record.size > buffer.size()) {
                std::cerr << "keltra: only the first " << buffer.size() << " of " << record.size
                          << " bytes were shown; 'keltra recover' copies the whole file\n";
            }
        }
    }
    if (status == kCancelled) {
        std::cerr << "keltra: stopped\n";
        return kExitRuntimeError;
    }
    if (status != kOk) {
        std::cerr << "keltra: cannot read '" << options.path << "': " << StatusMessage(status)
                  << "\n";
        return kExitRuntimeError;
    }
    return kExitOk;
}

}  // namespace

void AddCatCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<CatOptions>();
    options->request.sources.resize(1);
    CLI::App* sub =
        app.add_subcommand("cat", "Scan a source and write one found file's data to stdout");
    sub->add_option("SOURCE", options->request.sources[0], kSourceForms)->required();
    sub->add_option("PATH", options->path, "the found file: its folder path and name (a/b/c.jpg)")
        ->required();
    sub->footer(
        std::string(kImageTablesHelp) +
        "The data is what the preview reads: pictures, audio and video whole, other files up\n"
        "to 64 MiB. When several found files have the path, the first listed is written.\n"
        "Exit codes: 0 done, 1 error or nothing at PATH, 2 usage.");
    sub->callback([&run, options] { run = [options] { return RunCat(*options); }; });
}

}  // namespace keltra::cli
