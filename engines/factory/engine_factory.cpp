#include "engines/factory/engine_factory.h"

#include "engines/deep/deep_scan.h"

namespace keltra {

std::unique_ptr<ScanEngine> CreateEngineForClass(SourceClass sourceClass, bool deep) {
    if (deep) return std::make_unique<DeepScan>();
    return CreateQuickScanForClass(sourceClass);
}

namespace {

std::unique_ptr<ScanEngine> DeepEngineFor(SourceClass sourceClass) {
    return CreateEngineForClass(sourceClass, true);
}

std::unique_ptr<ScanEngine> QuickEngineFor(SourceClass sourceClass) {
    return CreateEngineForClass(sourceClass, false);
}

}  // namespace

std::unique_ptr<ScanEngine> CreateEngine(const SourceRef& ref, bool deep, Status* failure) {
    return OpenedEngine<ScanEngine>(ref, failure, deep ? &DeepEngineFor : &QuickEngineFor);
}

}  // namespace keltra
