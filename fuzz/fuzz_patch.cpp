// Hostile patch files: the signature check, the information block, the file table and the
// records after it, each stored file, the query, and the application to a scratch directory. The
// two lowest bits of the input's length choose the flags "continue on errors" and "ignore
// fingerprint", so every input replays the same way.
#include "core/fileReader.h"
#include "fuzzsupport.h"
#include "patch/compactformat.h"
#include "patch/patchformat.h"

#include <cstdlib>
#include <cstring>

using namespace ostmere;
using namespace fuzzing;

namespace {

// Extraction is bounded so that a table of many tiny records cannot make one input slow.
constexpr size_t kMaxExtracted = 64;

const ScratchDir& scratch() {
    static ScratchDir dir;
    return dir;
}

// Paths the application acts on; the ignored lists are only reported.
std::vector<std::u16string> actedOnPaths(const CPatchInfo& info) {
    std::vector<std::u16string> paths;
    for (const PathList* list : {&info.UnlinkedDirectories, &info.UnlinkedFiles, &info.NewDirs,
                                 &info.ChangedFiles, &info.NewFiles})
        paths.insert(paths.end(), list->begin(), list->end());
    for (const auto& entry : info.AttributeChanges)
        paths.push_back(entry.first);
    return paths;
}

// A path that leaves its directory must be refused by the engine; false when there is one.
bool checkInside(const std::u16string& path) {
    if (staysInside(path))
        return true;
    requireEngineRefuses(path);
    return false;
}

bool storedPath(CFileReader& in, uint64_t position, std::u16string& path) {
    try {
        in.seek(position);
        in.readType(TYPE_FILE);
        path = in.readString();
        return true;
    } catch (const CTKErr&) {
        return false;
    }
}

// A fixed older file for deltas: the records are read past the patch's closing digest, which
// a mutated input rarely keeps, so that the frames themselves meet hostile sizes and bytes.
class CFixedReference : public CReferenceSource {
  public:
    uint64_t size() override { return sizeof bytes_; }
    void readAt(uint64_t offset, void* buffer, size_t n) override {
        if (offset > sizeof bytes_ || n > sizeof bytes_ - offset)
            throw CTKErr(eErrType{}, u"short reference", "fuzz", 0);
        std::memcpy(buffer, bytes_ + offset, n);
    }

  private:
    uint8_t bytes_[4096] = {};
};

void decodeCompactRecords(CFileReader& in, const FileTable& table, uint64_t fileSize) {
    CZstdCoder coder;
    CFixedReference reference;
    size_t decoded = 0;
    for (const auto& entry : table) {
        if (++decoded > kMaxExtracted)
            break;
        for (CompactCheck depth :
             {CompactCheck::layout, CompactCheck::contents, CompactCheck::decode}) {
            try {
                in.seek(entry.second);
                readCompactRecord(
                    in, coder,
                    {depth, fileSize,
                     [&](const std::u16string&) -> CReferenceSource& { return reference; },
                     [](const uint8_t*, size_t) {}});
            } catch (const CTKErr&) {
            }
        }
    }
}

// Extracts the stored files one by one; false when the patch names a path outside.
bool extractAll(QuietSink& sink, const fs::path& patch, bool tolerant) {
    CInputFile in(u16(patch));
    bool compact = false;
    in.seek(in.readHeader(&compact));
    const FileTable table = in.readFileTable();
    if (compact) {
        for (const auto& entry : table)
            if (!checkInside(entry.first))
                return false;
        return true;
    }
    const fs::path out = scratch().freshDirectory("extract");
    bool inside = true;
    size_t extracted = 0;
    for (const auto& [key, position] : table) {
        inside = checkInside(key) && inside;
        std::u16string path;
        if (!storedPath(in, position, path))
            continue;
        if (!checkInside(path)) {
            inside = false;
            continue;
        }
        if (++extracted > kMaxExtracted)
            break;
        try {
            in.extractFile(tolerant, &sink, position, u16(out));
        } catch (const CTKErr&) {
        }
    }
    return inside;
}

// A key pair of this process, made once.
struct FuzzKeys {
    FuzzKeys() : secret(scratch() / "fuzz.key"), trusted(secret.string() + ".pub") {
        createSigningKey(u16(secret));
    }
    fs::path secret, trusted;
};

// The signature record at the end is found and read before anything else of a patch, with and
// without a trusted key. The input signed here must then verify, and its trailing records
// (the signature after whatever the input holds there) must read or be refused cleanly.
void checkSignatures(QuietSink& sink, const fs::path& patch) {
    static const FuzzKeys keys;
    for (bool trustKey : {false, true}) {
        TrustOptions trust;
        if (trustKey)
            trust.trustedKeyFiles.push_back(u16(keys.trusted));
        try {
            checkPatchSignature(&sink, u16(patch), trust);
        } catch (const CTKErr&) {
        }
    }
    const fs::path signedCopy = scratch() / "signed.tkp";
    fs::copy_file(patch, signedCopy, fs::copy_options::overwrite_existing);
    signPatch(&sink, u16(signedCopy), u16(keys.secret));
    TrustOptions trust;
    trust.trustedKeyFiles.push_back(u16(keys.trusted));
    if (!checkPatchSignature(&sink, u16(signedCopy), trust).verified)
        std::abort(); // a patch signed by the trusted key must verify
    try {
        loadPatchInfo(&sink, u16(signedCopy));
    } catch (const CTKErr&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool tolerant = size & 1, ignoreFingerprint = size & 2;
    const fs::path patch = scratch() / "input.tkp";
    writeInput(patch, data, size);
    QuietSink sink;
    checkSignatures(sink, patch);
    // Compact records are read whether or not the patch as a whole passes its digest.
    try {
        CInputFile in(u16(patch));
        bool compact = false;
        in.seek(in.readHeader(&compact));
        if (compact) {
            const FileTable table = in.readFileTable();
            decodeCompactRecords(in, table, size);
        }
    } catch (const CTKErr&) {
    }
    CPatchInfo info;
    try {
        info = loadPatchInfo(&sink, u16(patch));
    } catch (const CTKErr&) {
        return 0;
    }
    bool inside = true;
    for (const auto& path : actedOnPaths(info))
        inside = checkInside(path) && inside;
    inside = extractAll(sink, patch, tolerant) && inside;
    try {
        tkQuerryPatch(&sink, u16(patch), u16(scratch() / "query.xml"));
    } catch (const CTKErr&) {
    } catch (const CXmlError&) {
    }
    // The engine refused every outside path above; applying is only tried when nothing could
    // reach beyond the scratch directory even if a later check failed to run.
    if (!inside)
        return 0;
    const fs::path target = scratch().freshDirectory("target");
    try {
        tkApplyPatch(&sink, u16(target), u16(patch), u"", tolerant, ignoreFingerprint);
    } catch (const CTKErr&) {
    }
    return 0;
}
