// Walking up from a deleted file's parent folder to the root: gives the depth of the folder
// (1 for a folder directly under the root) and collects every folder met, in the order first
// met. Each folder's record is looked up once for the whole scan: what one walk learned is
// remembered, and the depths come out as if every walk had started afresh with its own set of
// visited folders (so a damaged chain that loops ends where that fresh walk would end).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace keltra::ntfs {

class FolderWalk {
  public:
    // The parent of folder `number`: its first $FILE_NAME's parent when its record can be read,
    // carries the "FILE" signature and is a directory; nothing otherwise (the walk stops there).
    using ParentOf = std::function<std::optional<uint32_t>(uint32_t number)>;

    explicit FolderWalk(ParentOf parentOf) : parentOf_(std::move(parentOf)) {}

    // Depth of `folder`: 0 for the root, else the number of folders from it up to the root or
    // to the point where the chain stops.
    uint32_t DepthOf(uint32_t folder);

    const std::vector<uint32_t>& FolderKeys() const { return keys_; }
    void Clear();

  private:
    ParentOf parentOf_;
    std::unordered_map<uint32_t, uint32_t> depth_;
    std::vector<uint32_t> keys_;
};

}  // namespace keltra::ntfs
