// Hostile vault files. readVault may only fail with the engine's error: an XML failure or any
// other exception leaving it is a fault. A vault that reads must also survive being written
// again and read back unchanged.
#include "fuzzsupport.h"
#include "xml/xmlrep.h"

#include <cstdio>
#include <cstdlib>

using namespace ostmere;
using namespace fuzzing;

namespace {

const ScratchDir& scratch() {
    static ScratchDir dir;
    return dir;
}

bool sameContent(const CDirSnapshot& a, const CDirSnapshot& b) {
    return a.filterText == b.filterText && a.ignoredItems == b.ignoredItems &&
           a.directories == b.directories && a.files == b.files && a.attributes == b.attributes &&
           a.fileIds == b.fileIds && a.infoEntries == b.infoEntries;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path vault = scratch() / "input.tkv";
    writeInput(vault, data, size);
    QuietSink sink;
    CDirSnapshot snapshot;
    try {
        snapshot = readVault(&sink, u16(vault));
    } catch (const CTKErr&) {
        return 0;
    }
    const fs::path rewritten = scratch() / "rewritten.tkv";
    try {
        writeVault(&sink, u16(rewritten), snapshot);
    } catch (const CTKErr&) {
        return 0;
    } catch (const CXmlError&) {
        return 0;
    }
    CDirSnapshot again;
    try {
        again = readVault(&sink, u16(rewritten));
    } catch (const CTKErr& e) {
        std::fprintf(stderr, "a vault written from a read vault cannot be read: %s\n",
                     utf16ToUtf8(e.message).c_str());
        std::abort();
    }
    if (!sameContent(snapshot, again)) {
        std::fprintf(stderr, "a vault changed when written and read again\n");
        std::abort();
    }
    return 0;
}
