// Helpers for tests that build snapshots by hand or read what one holds, one kind at a time.
#pragma once

#include "snapshot/dirscan.h"

#include <string>
#include <vector>

namespace testing_support {

// A snapshot listing the given directories and files (in that order), with attribute words and
// file ids for the paths named in the maps; a path may have either without being listed.
ostmere::CDirSnapshot snapshotOf(const std::vector<std::u16string>& directories,
                                 const std::vector<std::u16string>& files,
                                 const ostmere::AttributeMap& attributes = {},
                                 const ostmere::TextMap& ids = {});

// What the snapshot holds of each kind, keyed by path.
ostmere::AttributeMap attributesIn(const ostmere::CDirSnapshot& snapshot);
ostmere::TextMap idsIn(const ostmere::CDirSnapshot& snapshot);
ostmere::MetaMap metadataIn(const ostmere::CDirSnapshot& snapshot);
std::vector<std::u16string> listed(const ostmere::CPathRefs& paths);
std::vector<std::string> narrowed(const ostmere::CPathRefs& paths);

} // namespace testing_support
