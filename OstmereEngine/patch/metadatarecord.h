// The metadata record: permission bits and modification times of the newer tree's items, and
// the digest that verifies them. It follows the file table, where a base reader never looks.
#pragma once

#include "compare/patchinfo.h"
#include "core/fileReader.h"

namespace ostmere {

constexpr uint8_t TYPE_METADATA = 0x18;
constexpr uint32_t kMetadataRecordVersion = 1;

void writeMetadataRecord(CFileReader& out, const CPatchInfo& info);
// Reads the record at the current position into info; anything malformed is refused.
void readMetadataRecord(CFileReader& in, CPatchInfo& info);
// The same with the tag already read.
void readMetadataRecordBody(CFileReader& in, CPatchInfo& info);

} // namespace ostmere
