// Chooses and opens the engine for a source from its first 16 KiB: its quick scan, or the deep
// scan.
#pragma once

#include <memory>

#include "engines/quick/quick_scan_factory.h"
#include "engines/scan_engine.h"
#include "platform/status.h"
#include "storage/source_ref.h"

namespace keltra {

// The engine for a scan of the class: a deep scan has its driver whatever the file system.
std::unique_ptr<ScanEngine> CreateEngineForClass(SourceClass sourceClass, bool deep);

// The engine for the source, chosen by the first 16 KiB of its volume, and opened on it. Null
// when the source cannot be opened, its boot area cannot be read whole, no engine fits, or the
// engine cannot be opened on it; `failure`, when given, then receives the error (87 when no
// engine fits), and kOk with an engine.
std::unique_ptr<ScanEngine> CreateEngine(const SourceRef& source, bool deep,
                                         Status* failure = nullptr);

}  // namespace keltra
