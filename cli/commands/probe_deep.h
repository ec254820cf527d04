// `keltra probe --deep SOURCE`: reads every sector of the source for the boot sectors of
// volumes (and their backups) and lists the volumes found, each with the source argument that
// scans it on its own.
#pragma once

#include "cli/commands/source_argument.h"

namespace keltra::cli {

int RunDeepProbe(const SourceArgument& source, bool json);

}  // namespace keltra::cli
