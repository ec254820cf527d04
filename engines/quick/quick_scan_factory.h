// Chooses the quick scan of a source from the first 16 KiB of its volume, and opens it.
#pragma once

#include <memory>

#include "engines/layouts/boot_area.h"
#include "engines/quick_scan.h"
#include "platform/status.h"
#include "storage/source_ref.h"

namespace keltra {

// The quick scan of a source of the class: null when there is none (an unrecognised source, or
// an engine not built in).
std::unique_ptr<QuickScan> CreateQuickScanForClass(SourceClass sourceClass);

// The class of the source's volume, from its boot area (or a backup boot sector standing in for
// it); the open's or the read's error when the source cannot be opened or its boot area read
// whole.
Status ClassifySource(const SourceRef& ref, SourceClass& out);

// The engine `make` gives for the source's class, opened on the source; null with the reason
// otherwise. An engine whose opening failed is never handed out: its listing, copies and scan
// would work on a source it does not hold. `failure`, when given, receives the error (87 when
// no engine fits), and kOk with an engine.
template <class Engine>
std::unique_ptr<Engine> OpenedEngine(const SourceRef& ref, Status* failure,
                                     std::unique_ptr<Engine> (*make)(SourceClass)) {
    SourceClass sourceClass = SourceClass::Unrecognised;
    Status status = ClassifySource(ref, sourceClass);
    std::unique_ptr<Engine> engine;
    if (status == kOk) {
        engine = make(sourceClass);
        status = engine ? engine->Open(ref) : kErrInvalidParameter;
        if (status != kOk) engine.reset();
    }
    if (failure != nullptr) *failure = status;
    return engine;
}

// The quick scan for the source, chosen by the first 16 KiB of its volume, and opened on it.
// Null when the source cannot be opened, its boot area cannot be read whole, no engine fits, or
// the engine cannot be opened on it.
std::unique_ptr<QuickScan> CreateQuickScan(const SourceRef& source, Status* failure = nullptr);

}  // namespace keltra
