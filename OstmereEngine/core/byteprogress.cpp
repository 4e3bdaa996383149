#include "core/byteprogress.h"

#include "core/platform.h"

#include <sys/stat.h>

namespace ostmere {

void announceFileBytes(CProgressSink* sink, const std::u16string& root,
                       std::initializer_list<const std::deque<std::u16string>*> lists) {
    CByteProgressSink* bytes = byteSinkOf(sink);
    if (!bytes || !bytes->wantsStageBytes())
        return;
    uint64_t total = 0;
    struct stat st {};
    for (const auto* list : lists)
        for (const auto& path : *list)
            if (::lstat(nativePath(root + path).c_str(), &st) == 0 &&
                (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
                total += static_cast<uint64_t>(st.st_size); // a link's size is its text's
    bytes->stageBytes(total);
}

} // namespace ostmere
