// The child record indices of one folder in the order they were linked, kept as runs of
// consecutive indices: a scan links a folder's files one after another, so a folder of a
// million files usually takes a few runs instead of a million entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace keltra {

class ChildList {
  public:
    void push_back(uint32_t index) {
        ++size_;
        if (!runs_.empty()) {
            Run& last = runs_.back();
            if (last.count < UINT32_MAX && last.first + last.count == index) {
                ++last.count;
                return;
            }
        }
        runs_.push_back({index, 1});
    }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // Calls visit(index) for every child in order; a false answer stops the walk (and ForEach
    // answers false).
    template <typename Visit>
    bool ForEach(Visit&& visit) const {
        for (const Run& run : runs_) {
            for (uint32_t i = 0; i < run.count; ++i) {
                if (!visit(run.first + i)) return false;
            }
        }
        return true;
    }

  private:
    struct Run {
        uint32_t first;
        uint32_t count;
    };
    std::vector<Run> runs_;
    size_t size_ = 0;
};

}  // namespace keltra
