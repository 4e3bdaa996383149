// What POSIX keeps of an item beyond the attribute word, and what a faithful copy carries.
#pragma once

#include "core/pathmap.h"

#include <cstdint>
#include <string>

namespace ostmere {

struct CItemMeta {
    uint32_t mode = 0; // permission bits with setuid, setgid and sticky: st_mode & 07777
    int64_t mtimeSec = 0;
    uint32_t mtimeNsec = 0;
    bool operator==(const CItemMeta&) const = default;
};

// Relative path to its metadata, in ordinal path order.
using MetaMap = CPathMap<CItemMeta>;

constexpr uint32_t kModeBits = 07777;
constexpr uint32_t kSetIdBits = 06000;

} // namespace ostmere
