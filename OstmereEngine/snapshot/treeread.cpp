#include "snapshot/treeread.h"

#include "core/byteprogress.h"
#include "core/itemcontent.h"
#include "core/tkerr.h"

#include <algorithm>

TK_MODULE("fileio");

namespace ostmere {

void hashFile(CProgressSink* sink, const std::u16string& fullPath, CSha1& sha) {
    hashFile(sink->getBuffer(), sink->getBufferSize(), fullPath, sha, nullptr, byteSinkOf(sink));
}

uint64_t hashFile(uint8_t* buffer, size_t chunk, const std::u16string& fullPath, CSha1& sha,
                  const std::atomic<bool>* abandon, CByteProgressSink* bytes) {
    CItemContent content;
    if (!content.open(fullPath))
        TK_RAISE(u"Unable read a source file:" + fullPath);
    const uint64_t size = content.size();
    if (size > chunk)
        content.adviseSequential();
    uint64_t total = 0;
    while (total < size) {
        if (abandon && abandon->load(std::memory_order_relaxed))
            return total;
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, size - total));
        size_t got = content.read(buffer, n);
        if (got == 0)
            break;
        sha.update(buffer, got);
        total += got;
        reportBytes(bytes, got);
    }
    if (total != size)
        TK_RAISE(u"Unable read a source file:" + fullPath);
    return total;
}

} // namespace ostmere
