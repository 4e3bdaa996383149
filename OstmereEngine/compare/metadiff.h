// Which items' metadata a patch must carry.
#pragma once

#include "compare/patchinfo.h"
#include "snapshot/dirscan.h"

namespace ostmere {

// Fills info's metadata for a newer snapshot that has it: every new or stored item, every
// directory whose entries the patch changes, and every item whose permission bits or
// modification time differ from the older snapshot's (all items when the older snapshot has
// no metadata, as a vault written without it). Leaves info
// untouched when the newer snapshot has none.
void addMetadataChanges(CPatchInfo& info, const CDirSnapshot& newer, const CDirSnapshot& older);

} // namespace ostmere
