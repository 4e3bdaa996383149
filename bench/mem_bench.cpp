// Heap bytes per file of a scanned snapshot and of loaded patch information, beyond the
// UTF-16 text of the paths themselves.
//
//   mem_bench DIR PATCH
#include "patch/patchformat.h"
#include "quietsink.h"
#include "snapshot/dirscan.h"

#include <cstdio>
#include <malloc.h>
#include <vector>

using namespace ostmere;

namespace {

size_t heapInUse() {
    return mallinfo2().uordblks;
}

template <class Paths> size_t textBytes(const Paths& paths) {
    size_t bytes = 0;
    for (const auto& p : paths)
        bytes += 2 * p.size();
    return bytes;
}

void show(const char* what, size_t heap, size_t entries, size_t text) {
    std::printf("%s: %zu entries, %.1f MiB heap, %.0f bytes per entry beyond %.0f bytes of path "
                "text\n",
                what, entries, heap / 1048576.0, double(heap - text) / double(entries),
                double(text) / double(entries));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    QuietSink sink(2 << 20);
    size_t before = heapInUse();
    {
        CDirSnapshot snapshot = scanDirectory(&sink, utf8ToUtf16(argv[1]), u"");
        const size_t entries = snapshot.files.size() + snapshot.directories.size();
        show("snapshot", heapInUse() - before, entries,
             textBytes(snapshot.files) + textBytes(snapshot.directories));
    }
    before = heapInUse();
    CPatchInfo info = loadPatchInfo(&sink, utf8ToUtf16(argv[2]));
    const size_t entries = info.NewFiles.size() + info.ChangedFiles.size() + info.NewDirs.size();
    show("patch information", heapInUse() - before, entries,
         textBytes(info.NewFiles) + textBytes(info.ChangedFiles) + textBytes(info.NewDirs));
    return 0;
}
