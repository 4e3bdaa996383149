// Reading a patch through without changing anything: its summary and a dry run of applying it.
#pragma once

#include "core/fileReader.h"

namespace ostmere {

// Announces the content bytes of the table's records to a sink that shows bytes.
void announceStoredBytes(CProgressSink* sink, CFileReader& in, const FileTable& table);

} // namespace ostmere
