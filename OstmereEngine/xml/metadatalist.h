// The vault's metadata list: permission bits and modification times, in an element after
// "VaultInfo" that readers of the base format never select.
#pragma once

#include "core/itemmeta.h"
#include "snapshot/entries.h"
#include "xml/xmldoc.h"

namespace ostmere {

// "Metadata" holding one "fNode" per item: "path", "mode" (octal), "mtime" (seconds, a dot,
// nine digits of nanoseconds).
XmlElement writeMetadataList(CXmlDocument& doc, const EntryMap& entries);
// The list below vault, or an empty map when the vault has none; a malformed entry is an error.
MetaMap readMetadataList(XmlElement vault);

} // namespace ostmere
