// Reporting the bytes of file contents to a sink that wants them (CByteProgressSink).
#pragma once

#include "OstmereEngine.h"

#include <deque>
#include <initializer_list>
#include <string>

namespace ostmere {

inline CByteProgressSink* byteSinkOf(CProgressSink* sink) {
    return dynamic_cast<CByteProgressSink*>(sink);
}

inline void reportBytes(CByteProgressSink* bytes, uint64_t count) {
    if (bytes)
        bytes->bytesDone(count);
}

// Announces the total size of the files below root that a stage is about to read. Costs one
// stat per file, so it is done only for a sink that wants it.
void announceFileBytes(CProgressSink* sink, const std::u16string& root,
                       std::initializer_list<const std::deque<std::u16string>*> lists);

} // namespace ostmere
