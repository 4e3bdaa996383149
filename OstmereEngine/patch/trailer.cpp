#include "patch/trailer.h"

#include "core/tkerr.h"
#include "patch/compactformat.h"
#include "patch/metadatarecord.h"
#include "patch/signature.h"

TK_MODULE("patchReader");

namespace ostmere {

void readTrailingRecords(CFileReader& in, CPatchInfo& info) {
    while (!in.eof()) {
        const uint64_t at = in.tell();
        uint8_t tag = 0;
        in.readBuffer(&tag, 1);
        // The compact digest follows everything but a signature, which is checked on its own.
        if (!info.compactDigest.empty() && tag != TYPE_SIGNATURE)
            TK_RAISE(u"The patch holds data after its file table.");
        if (tag == TYPE_COMPACT_DIGEST && info.compact) {
            info.compactDigestAt = at;
            info.compactDigest = in.readString();
            if (!isLowerHex(info.compactDigest, 40))
                TK_RAISE(u"The compact patch does not match its digest.");
        } else if (tag == TYPE_METADATA && !info.hasMetadata) {
            readMetadataRecordBody(in, info);
        } else if (tag == TYPE_SIGNATURE) {
            info.signedBy = readSignatureRecord(in);
        } else {
            TK_RAISE(u"The patch holds data after its file table.");
        }
    }
}

} // namespace ostmere
