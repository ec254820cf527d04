#include "app/source_lease.h"

namespace keltra {

SourceLease::SourceLease(std::vector<SourceItem*> sources) {
    for (SourceItem* source : sources) {
        if (source == nullptr || !source->engine) continue;
        if (source->leases++ == 0) {
            const Status s = source->engine->ReopenSource();
            if (status_ == kOk) status_ = s;
        }
        held_.push_back(source);
    }
}

SourceLease::~SourceLease() {
    for (SourceItem* source : held_) {
        if (--source->leases == 0) CloseUnleasedSource(*source);
    }
}

void CloseUnleasedSource(SourceItem& source) {
    if (source.leases == 0 && source.engine) source.engine->CloseSource();
}

}  // namespace keltra
