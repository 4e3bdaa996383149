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
};

} // namespace ostmere
