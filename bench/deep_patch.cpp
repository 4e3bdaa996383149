// Writes a complete patch whose only new directory is one path of N components, through the
// engine's own record writers, for measuring how query scales with the depth of a path.
//
//   deep_patch N PATCH
#include "patch/patchformat.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace ostmere;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: deep_patch N PATCH\n");
        return 2;
    }
    const long components = std::atol(argv[1]);
    CPatchInfo info;
    std::u16string path;
    for (long i = 0; i < components; ++i)
        path += u"\\d";
    info.NewDirs.push_back(path);
    info.AttributeChanges[path] = 0x10;
    COutputFile out(utf8ToUtf16(argv[2]));
    out.writeBuffer(kPatchMagic, kPatchMagicSize);
    out.writeQword(0);
    out.writeDword(0);
    writePatchInfoBlock(out, info);
    const uint64_t tablePosition = out.tell();
    out.writeFileTable(FileTable());
    out.seek(kPatchMagicSize);
    out.writeQword(tablePosition);
    out.writeDword(1);
    return out.flush() ? 0 : 1;
}
