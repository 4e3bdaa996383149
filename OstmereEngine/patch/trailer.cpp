#include "patch/trailer.h"

#include "core/tkerr.h"
#include "patch/metadatarecord.h"
#include "patch/signature.h"

TK_MODULE("patchReader");

namespace ostmere {

void readTrailingRecords(CFileReader& in, CPatchInfo& info) {
    while (!in.eof()) {
        uint8_t tag = 0;
        in.readBuffer(&tag, 1);
        if (tag == TYPE_METADATA && !info.hasMetadata) {
            readMetadataRecordBody(in, info);
        } else if (tag == TYPE_SIGNATURE) {
            info.signedBy = readSignatureRecord(in);
        } else {
            TK_RAISE(u"The patch holds data after its file table.");
        }
    }
}

} // namespace ostmere
