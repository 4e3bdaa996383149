// Reporting the bytes of file contents to a sink that wants them (CByteProgressSink).
#pragma once

#include "OstmereEngine.h"

#include <cstdint>
#include <string>

namespace ostmere {

inline CByteProgressSink* byteSinkOf(CProgressSink* sink) {
    return dynamic_cast<CByteProgressSink*>(sink);
}

inline void reportBytes(CByteProgressSink* bytes, uint64_t count) {
    if (bytes)
        bytes->bytesDone(count);
}

// The size of a regular file or link (its text's) at the path; 0 for anything else.
uint64_t itemBytes(const std::u16string& fullPath);

// Announces the total size of the files below root that a stage is about to read. Costs one
// stat per file, so it is done only for a sink that wants it.
template <class... Lists>
void announceFileBytes(CProgressSink* sink, const std::u16string& root, const Lists&... lists) {
    CByteProgressSink* bytes = byteSinkOf(sink);
    if (!bytes || !bytes->wantsStageBytes())
        return;
    uint64_t total = 0;
    auto add = [&](const auto& list) {
        for (const auto& path : list)
            total += itemBytes(root + path);
    };
    (add(lists), ...);
    bytes->stageBytes(total);
}

} // namespace ostmere
