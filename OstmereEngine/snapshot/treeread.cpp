#include "snapshot/treeread.h"

#include "core/byteprogress.h"
#include "core/itemcontent.h"
#include "core/pathopen.h"
#include "core/platform.h"
#include "core/tkerr.h"

#include <fcntl.h>

#include <algorithm>

TK_MODULE("fileio");

namespace ostmere {

namespace {

void requireContent(bool opened, const std::u16string& fullPath) {
    if (!opened)
        TK_RAISE(u"Unable read a source file:" + fullPath);
}

} // namespace

void hashFile(CProgressSink* sink, const std::u16string& fullPath, CSha1& sha,
              CFileOpener* opener) {
    hashFile(sink->getBuffer(), sink->getBufferSize(), fullPath, sha, nullptr, byteSinkOf(sink),
             opener);
}

void CFileOpener::open(const std::u16string& fullPath, CItemContent& content) {
    const std::string native = nativePath(fullPath);
    const size_t slash = native.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        if (slash != directory_.size() || native.compare(0, slash, directory_) != 0) {
            directory_ = native.substr(0, slash);
            open_.reset(openPath(directory_, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        }
        // A directory that does not open leaves the failure to the whole path's open.
        if (open_)
            return requireContent(content.openIn(open_.get(), native.substr(slash + 1), fullPath),
                                  fullPath);
    }
    requireContent(content.open(fullPath), fullPath);
}

uint64_t hashFile(uint8_t* buffer, size_t chunk, const std::u16string& fullPath, CSha1& sha,
                  const std::atomic<bool>* abandon, CByteProgressSink* bytes, CFileOpener* opener) {
    CItemContent content;
    if (opener)
        opener->open(fullPath, content);
    else
        requireContent(content.open(fullPath), fullPath);
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
