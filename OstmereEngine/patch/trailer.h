// The records after a patch's file table, where base readers never look: at most one
// metadata record, then (compact format only, and there required) the digest record, then at
// most one signature record, which ends the file.
#pragma once

#include "compare/patchinfo.h"
#include "core/fileReader.h"

namespace ostmere {

// Reads from just after the file table to the end of the file; anything else is refused.
void readTrailingRecords(CFileReader& in, CPatchInfo& info);

} // namespace ostmere
