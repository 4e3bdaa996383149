// The patch information record: what turns the older tree into the newer one.
#pragma once

#include "snapshot/dirscan.h"

namespace ostmere {

struct CPatchInfo {
    std::u16string OlderTreeID;
    std::u16string NewerTreeID;
    TextMap infoEntries;
    PathList UnlinkedFiles;
    PathList NewFiles;
    PathList ChangedFiles;
    PathList NewDirs;
    PathList UnlinkedDirectories;
    AttributeMap AttributeChanges;
    std::u16string filter;
    PathList ignoredNew;
    PathList ignoredOld;
    // Why ignored items of either tree were skipped for their kind (see CDirSnapshot).
    TextMap skipReasons;
    // Carried after the file table where base readers do not look: the metadata to set on
    // the newer tree's items, and the digest that verifies it.
    bool hasMetadata = false;
    std::u16string metadataDigest;
    MetaMap metadata;
    // The key id of the signature record that ends a signed patch; empty when unsigned.
    std::u16string signedBy;
};

} // namespace ostmere
