// The digest that verifies what a faithful copy carries beyond the fingerprint.
#pragma once

#include "snapshot/dirscan.h"

namespace ostmere {

// SHA-1 over every directory and file in ordinal order: its path and its permission bits
// without setuid and setgid (those travel only on request). Link targets already enter the
// fingerprint through the links' ids, and times are left out: they are restored, not
// verified, because a file system may round them. Items without metadata count as "-".
std::u16string calcMetadataDigest(const CDirSnapshot& snapshot);

} // namespace ostmere
