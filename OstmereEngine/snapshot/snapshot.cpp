// The snapshot's entry map and the lists that refer to it.
#include "snapshot/dirscan.h"

namespace ostmere {

namespace {

void rebind(const CPathRefs& from, CPathRefs& to, EntryMap& entries) {
    to.clear();
    to.reserve(from.size());
    for (const auto& path : from)
        to.push_back(&*entries.find(path));
}

} // namespace

CDirSnapshot::CDirSnapshot(const CDirSnapshot& other)
    : root(other.root), filterText(other.filterText), ignoredItems(other.ignoredItems),
      skipReasons(other.skipReasons), infoEntries(other.infoEntries), entries(other.entries) {
    rebind(other.directories, directories, entries);
    rebind(other.files, files, entries);
}

CDirSnapshot& CDirSnapshot::operator=(const CDirSnapshot& other) {
    if (this != &other)
        *this = CDirSnapshot(other);
    return *this;
}

EntryRef CDirSnapshot::entryRef(const std::u16string& path) {
    // A scan meets most paths in ascending order; the hint is only a first guess.
    return &*entries.try_emplace(entries.end(), path);
}

const CEntry* CDirSnapshot::find(const std::u16string& path) const {
    auto it = entries.find(path);
    return it == entries.end() ? nullptr : &it->second;
}

CEntry& CDirSnapshot::addDirectory(const std::u16string& path) {
    EntryRef ref = entryRef(path);
    directories.push_back(ref);
    return ref->second;
}

CEntry& CDirSnapshot::addFile(const std::u16string& path) {
    EntryRef ref = entryRef(path);
    files.push_back(ref);
    return ref->second;
}

void CDirSnapshot::setAttributes(const std::u16string& path, uint32_t word) {
    entry(path).setAttributes(word);
}

uint32_t CDirSnapshot::attributesOf(const std::u16string& path) const {
    const CEntry* e = find(path);
    return e ? e->attributes : 0;
}

std::u16string CDirSnapshot::fileIdOf(const std::u16string& path) const {
    const CEntry* e = find(path);
    return e ? e->id.text() : std::u16string();
}

bool CDirSnapshot::hasMetadata() const {
    for (const auto& [path, e] : entries)
        if (e.hasMeta)
            return true;
    return false;
}

} // namespace ostmere
