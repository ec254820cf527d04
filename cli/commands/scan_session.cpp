#include "cli/commands/scan_session.h"

#include <fmt/format.h>

#include <array>
#include <filesystem>
#include <iostream>

#include "cli/commands/command.h"
#include "cli/commands/interrupt.h"
#include "cli/commands/progress_line.h"
#include "engines/boot_area.h"
#include "engines/carving/signature_carver.h"
#include "engines/deep/carve_pass.h"
#include "engines/deep/deep_scan.h"
#include "engines/engine_factory.h"
#include "engines/fat/quick_fat_scan.h"
#include "platform/clock.h"
#include "scanlog/scan_history.h"
#include "storage/copied_areas_reader.h"
#include "storage/rescue_map_file.h"
#include "storage/sector_source.h"

namespace keltra::cli {

namespace {

struct ScanProgressContext {
    ProgressLine* line;
    std::string what;
    PassSpeed speed;
    int shownPercent = 0;  // of the whole scan, as last shown
};

int OnScanProgress(void* user, int percent, int weight, int secondsLeft, uint64_t currentSector,
                   uint64_t totalSectors, uint64_t filesFound, int /*reserved*/) {
    auto* context = static_cast<ScanProgressContext*>(user);
    if (InterruptGuard::Requested()) return kCancelled;
    context->shownPercent = percent * weight / 100;
    if (totalSectors != 0 && context->speed.sectorSize != 0) {
        context->speed.Update(currentSector, TickCountMs());
        context->line->Show(DeepScanProgressText(context->what, context->shownPercent, secondsLeft,
                                                 currentSector, context->speed, filesFound),
                            percent >= 100);
        return 0;
    }
    context->line->Show(ScanProgressText(context->what, context->shownPercent, secondsLeft,
                                         currentSector, totalSectors, filesFound),
                        percent >= 100);
    return 0;
}

// The boot area as the engines will read it; `backupSector` tells when a backup boot sector
// stood in for a damaged first sector.
Status ReadSourceBootArea(const SourceArgument& sourceArg,
                          std::span<std::byte, kBootAreaBytes> boot, uint64_t& backupSector) {
    SectorSource source;
    uint32_t sectorSize = kImageSectorSize;
    Status status = sourceArg.isImage ? OpenImageSource(source, sourceArg.imagePath)
                                      : OpenDiskSource(source, sourceArg.diskNumber);
    if (status == kOk && !sourceArg.isImage) status = source.handle.LogicalSectorSize(sectorSize);
    const uint64_t sectors = sourceArg.IsWholeImage() ? source.totalSectors : sourceArg.sectorCount;
    if (status == kOk) {
        status =
            ReadBootArea(source, sourceArg.startSector, sectorSize, boot, sectors, &backupSector);
    }
    return status;
}

// Why the factory made no engine for a source it could read.
std::string NoEngineReason(SourceClass sourceClass, bool deep, Status failure) {
    // An engine was made for it but could not be opened on it.
    if (failure != kOk && (deep || CreateEngineForClass(sourceClass, false) != nullptr)) {
        return std::string(deep ? "the deep scan" : "the quick scan") +
               " cannot open it: " + StatusMessage(failure);
    }
    if (deep) return "the deep scan cannot open it";
    if (sourceClass == SourceClass::Unrecognised) {
        return "no NTFS, exFAT, FAT or Ext file system found at its start";
    }
    return fmt::format("the quick scan of {} volumes is not available in this build yet",
                       SourceClassName(sourceClass));
}

// A deep scan of a source that the history remembers continues it, unless asked to restart:
// then the earlier scan and its folder are forgotten first.
void PrepareDeepScan(const SourceArgument& sourceArg, bool restart) {
    ScanHistory& history = ScanHistory::Instance();
    ScanHistoryRecord earlier{};
    const bool found = history.FindScan(sourceArg.Ref(0), earlier);
    if (!history.Refusal().empty()) {
        std::cerr << "keltra: '" << sourceArg.text << "': " << history.Refusal() << "\n";
        if (const Status s = history.Save(); s != kOk) {
            std::cerr << "keltra: warning: cannot save the scan history: " << StatusMessage(s)
                      << "\n";
        }
    }
    if (!found) return;
    if (!restart) {
        std::cerr << "keltra: continuing the earlier deep scan of '" << sourceArg.text << "' ("
                  << earlier.state.sectorsDone << " of " << earlier.sectorCount
                  << " sectors done); --restart starts afresh\n";
        return;
    }
    if (const Status s = history.ForgetScan(earlier.ScanFolder()); s != kOk) {
        std::cerr << "keltra: warning: cannot delete the earlier scan folder '"
                  << earlier.ScanFolder() << "': " << StatusMessage(s) << "\n";
    }
    if (const Status s = history.Save(); s != kOk) {
        std::cerr << "keltra: warning: cannot save the scan history: " << StatusMessage(s) << "\n";
    }
    std::cerr << "keltra: the earlier deep scan of '" << sourceArg.text << "' is forgotten\n";
}

// Makes the source's engine, or says on stderr why there is none.
std::unique_ptr<ScanEngine> MakeEngine(const SourceArgument& sourceArg, uint16_t tag,
                                               bool deep, bool restart, int& exitCode) {
    exitCode = kExitRuntimeError;
    auto boot = std::make_unique<std::array<std::byte, kBootAreaBytes>>();
    uint64_t backupSector = 0;
    if (const Status s = ReadSourceBootArea(sourceArg, *boot, backupSector); s != kOk) {
        std::cerr << "keltra: cannot read the first 16 KiB of '" << sourceArg.text << "': "
                  << (s == kErrInvalidParameter ? "the source is too small" : StatusMessage(s))
                  << "\n";
        return nullptr;
    }
    const SourceClass sourceClass = ClassifyBootArea(*boot);
    if (backupSector != 0) {
        std::cerr << "keltra: the boot sector of '" << sourceArg.text << "' is damaged; its "
                  << SourceClassName(sourceClass) << " backup in sector " << backupSector
                  << " is used\n";
    }
    if (deep) PrepareDeepScan(sourceArg, restart);
    Status failure = kOk;
    std::unique_ptr<ScanEngine> engine = CreateEngine(sourceArg.Ref(tag), deep, &failure);
    if (!engine) {
        std::cerr << "keltra: cannot scan '" << sourceArg.text << "'"
                  << (sourceArg.volumeName.empty() ? "" : " (" + sourceArg.volumeName + ")") << ": "
                  << NoEngineReason(sourceClass, deep, failure)
                  << (sourceArg.inWholeImage ? "; passed over" : "") << "\n";
        // A volume of an image that holds nothing a quick scan reads is no failure.
        if (sourceArg.inWholeImage && !deep) exitCode = kExitOk;
        return nullptr;
    }
    if (!deep && sourceClass == SourceClass::Ext) {
        std::cerr << "keltra: '" << sourceArg.text
                  << "' is an ext2/3/4 volume, whose file system erases a deleted file's block "
                     "list: a quick scan finds no deleted files there; a deep scan (--deep) "
                     "looks for them in its free blocks by their contents\n";
    }
    exitCode = kExitOk;
    return engine;
}

// A stopped deep scan has saved where it stood; the same command continues it.
void TellHowToContinue(const SourceArgument& sourceArg, const ScanProgressContext& context) {
    std::cerr << "keltra: the deep scan of '" << sourceArg.text << "' was stopped at "
              << context.shownPercent
              << "%; where it stood is saved: run the same command again to continue it "
                 "(--restart starts afresh)\n";
}

// How many sectors of the source failed to read (the pass went on past them).
// An image made by a rescue copy names its map: those sectors are the ones the disk itself
// could not give.
void TellUnreadable(const SourceArgument& sourceArg, uint64_t sectors) {
    if (sectors == 0) return;
    std::cerr << "keltra: " << sectors << (sectors == 1 ? " sector" : " sectors") << " of '"
              << sourceArg.text << "' could not be read";
    std::error_code error;
    if (sourceArg.isImage &&
        CopiedAreasReader::MapOfImage(sourceArg.imagePath,
                                      std::filesystem::file_size(sourceArg.imagePath, error))) {
        std::cerr << ": the rescue map '" << RescueMapPath(sourceArg.imagePath)
                  << "' marks them unreadable or not copied yet; found files that lie in them "
                     "are not copied as if they were whole";
    }
    std::cerr << "\n";
}

// Deleted folders whose further clusters the quick scan could not find.
void TellNotFollowed(const SourceArgument& sourceArg, const FoundFiles& engine) {
    const auto* fat = dynamic_cast<const QuickFatScan*>(&engine);
    if (fat == nullptr || fat->FoldersNotFollowed() == 0) return;
    const uint64_t n = fat->FoldersNotFollowed();
    std::cerr << "keltra: "
              << (n == 1 ? std::string("a deleted folder") : std::to_string(n) + " deleted folders")
              << " of '" << sourceArg.text << "' could not be followed to the end"
              << (n == 1 ? " (its cluster chain is cleared)"
                         : " (their cluster chains are cleared)")
              << ": more files may lie in them; a deep scan (--deep) looks for them\n";
}

// Whether the pass kept to the volume's free space, and how much it read.
void TellWhatWasPassed(const SourceArgument& sourceArg, const DeepScan& deep) {
    std::cerr << "keltra: the deep scan of '" << sourceArg.text << "' passed "
              << (deep.FreeSpaceOnly() ? "the free space of the volume" : "every sector") << ": "
              << deep.SectorsRead() << " sectors read\n";
    TellUnreadable(sourceArg, deep.UnreadableSectors());
}

// Carving alone needs no file system: the engine is opened on the source whatever it holds.
std::unique_ptr<SignatureCarver> MakeCarvingEngine(const SourceArgument& sourceArg,
                                                     uint16_t tag) {
    auto engine = std::make_unique<SignatureCarver>();
    // A part of an image is carved from the whole image, whose sectors its records count.
    const Status s = engine->Open(sourceArg.isImage ? SourceRef::Image(sourceArg.imagePath, tag)
                                                    : sourceArg.Ref(tag));
    if (s != kOk) {
        std::cerr << "keltra: cannot open '" << sourceArg.text
                  << "' for carving: " << StatusMessage(s) << "\n";
        return nullptr;
    }
    return engine;
}

// Offers every sector of the source to the carving engine, reading through a handle of its
// own. A part of an image is carved within its range; the engine reads the whole image, whose
// sectors its records count from the image's start.
Status CarveSource(const SourceArgument& sourceArg, SignatureCarver& engine,
                   ScanProgressContext& context) {
    SectorSource source;
    uint32_t sectorSize = kImageSectorSize;
    Status status = sourceArg.isImage ? OpenImageSource(source, sourceArg.imagePath)
                                      : OpenDiskSource(source, sourceArg.diskNumber);
    if (status == kOk && !sourceArg.isImage) status = source.handle.LogicalSectorSize(sectorSize);
    if (status != kOk) return status;
    CarvePassRange range{sourceArg.startSector, 0};
    if (sourceArg.IsWholeImage()) {
        range = {0, source.totalSectors};
    } else if (sourceArg.sectorCount != 0) {
        range.sectorCount = sourceArg.sectorCount;
    } else if (sourceArg.startSector < source.totalSectors) {
        range.sectorCount = source.totalSectors - sourceArg.startSector;
    }
    uint64_t unreadable = 0;
    status = CarveWholeRange(engine, source, static_cast<int>(sectorSize), range, OnScanProgress,
                             &context, &unreadable);
    TellUnreadable(sourceArg, unreadable);
    return status;
}

}  // namespace

bool ResolveSources(const ScanRequest& request, std::vector<SourceArgument>& sourceArgs) {
    sourceArgs.clear();
    for (const std::string& text : request.sources) {
        SourceArgument sourceArg;
        std::string error;
        if (!ParseSourceArgument(text, sourceArg, error)) {
            std::cerr << "keltra: " << error << "\n";
            return false;
        }
        std::vector<std::string> notes;
        for (SourceArgument& part : ExpandImageVolumes(sourceArg, notes)) {
            sourceArgs.push_back(std::move(part));
        }
        for (const std::string& note : notes) std::cerr << "keltra: warning: " << note << "\n";
    }
    return true;
}

int RunScans(const ScanRequest& request, std::vector<SourceArgument> sourceArgs,
             ScanSession& session) {
    session = {};
    ProgressLine line;
    for (size_t i = 0; i < sourceArgs.size(); ++i) {
        ScannedSource scanned;
        scanned.sourceArg = std::move(sourceArgs[i]);
        // Sources are numbered from 1 in the order given; the number tags their records.
        scanned.tag = static_cast<uint16_t>(i + 1);
        int exitCode = kExitOk;
        SignatureCarver* carver = nullptr;
        ScanEngine* scan = nullptr;
        if (request.carveOnly) {
            auto engine = MakeCarvingEngine(scanned.sourceArg, scanned.tag);
            carver = engine.get();
            scanned.engine = std::move(engine);
            exitCode = kExitRuntimeError;
        } else {
            auto engine =
                MakeEngine(scanned.sourceArg, scanned.tag, request.deep, request.restart, exitCode);
            scan = engine.get();
            scanned.engine = std::move(engine);
        }
        if (!scanned.engine) {
            // One volume of an image that cannot be scanned does not stop the others.
            if (!scanned.sourceArg.inWholeImage) return exitCode;
            if (exitCode != kExitOk) session.anyFailed = true;
            continue;
        }
        ScanProgressContext context{
            &line, (carver != nullptr ? "Carving " : "Scanning ") + scanned.sourceArg.text, {}};
        const auto* deep = dynamic_cast<const DeepScan*>(scanned.engine.get());
        if (deep != nullptr) context.speed.sectorSize = static_cast<uint32_t>(deep->SectorSize());
        scanned.engine->SetCallbacks(OnScanProgress, nullptr, &context,
                                     carver != nullptr ? kCarvePassWeight : 100);
        line.Show(context.what + ": 0%", true);
        scanned.status = carver != nullptr ? CarveSource(scanned.sourceArg, *carver, context)
                                           : scan->Scan(std::nullopt);
        line.Clear();
        scanned.engine->SetCallbacks(nullptr, nullptr, nullptr, 100);
        if (deep != nullptr) {
            TellWhatWasPassed(scanned.sourceArg, *deep);
        } else if (carver == nullptr) {
            TellUnreadable(scanned.sourceArg, scanned.engine->UnreadableSectors());
            TellNotFollowed(scanned.sourceArg, *scanned.engine);
        }
        session.sources.push_back(std::move(scanned));
        const Status status = session.sources.back().status;
        if (status == kCancelled) {
            session.cancelled = true;
            if (deep != nullptr) TellHowToContinue(session.sources.back().sourceArg, context);
            break;
        }
        if (status != kOk) {
            session.anyFailed = true;
            std::cerr << "keltra: the scan of '" << session.sources.back().sourceArg.text
                      << "' ended early: " << StatusMessage(status)
                      << " (what it found so far is listed)\n";
        }
    }
    if (session.sources.empty()) {  // every volume of the images was passed over
        std::cerr << "keltra: nothing could be scanned\n";
        return kExitRuntimeError;
    }
    return kExitOk;
}

void TellScanLogFolder() {
    const std::string folder = ScanHistory::Instance().CurrentScanFolder();
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) {
        std::cerr << "keltra: the scan log is kept in " << folder << "\n";
    }
}

}  // namespace keltra::cli
