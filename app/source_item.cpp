#include "app/source_item.h"

#include "engines/engine_factory.h"

namespace keltra {

std::unique_ptr<IFileRecoveryParse> MakeSourceEngine(const SourceItem& source, bool deep) {
    if (source.IsPartition()) {
        const VolumeEntry& p = *source.partition;
        return CreatePartitionEngine(p.diskNumber, p.start, p.length, p.letter, deep);
    }
    return CreateImageEngine(source.imagePath, source.imageTag, deep);
}

}  // namespace keltra
