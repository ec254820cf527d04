// Scanning the sources of a command: each source in the order given, its engine made by the
// factory, its scan run with a progress line and stopped by Ctrl-C.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/commands/source_argument.h"
#include "engines/found_files.h"

namespace keltra::cli {

struct ScanRequest {
    std::vector<std::string> sources;
    bool deep = false;
    bool restart = false;    // a deep scan forgets an earlier one of the same source
    bool carveOnly = false;  // carve every sector by signature, without the file system
};

struct ScannedSource {
    SourceArgument sourceArg;
    uint16_t tag = 0;  // the source tag of its records
    std::unique_ptr<FoundFiles> engine;
    Status status = kOk;  // the scan's result
};

struct ScanSession {
    std::vector<ScannedSource> sources;  // those scanned, in order
    bool cancelled = false;              // Ctrl-C stopped the pass
    bool anyFailed = false;              // a scan ended with an error (the others went on)
};

// Resolves every source of the request; the first that cannot be resolved is told on stderr
// and gives false. A whole image with a partition table becomes its volumes (the table's
// entries the image cannot hold are told on stderr).
bool ResolveSources(const ScanRequest& request, std::vector<SourceArgument>& sourceArgs);

// Scans the sources in turn. A source that cannot be read or given an engine ends the whole
// pass with one line on stderr and the exit code to return (a volume of a whole image is only
// passed over); kExitOk otherwise (also when
// cancelled: see `session.cancelled`). A scan that fails is told on stderr and the next source
// is scanned.
int RunScans(const ScanRequest& request, std::vector<SourceArgument> sourceArgs,
             ScanSession& session);

// Tells on stderr where the last scan's logs stay, when it wrote any.
void TellScanLogFolder();

}  // namespace keltra::cli
