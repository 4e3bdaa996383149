#include "snapshotsupport.h"

#include "testsupport.h"

namespace testing_support {

using namespace ostmere;

CDirSnapshot snapshotOf(const std::vector<std::u16string>& directories,
                        const std::vector<std::u16string>& files, const AttributeMap& attributes,
                        const TextMap& ids) {
    CDirSnapshot s;
    for (const auto& d : directories)
        s.addDirectory(d);
    for (const auto& f : files)
        s.addFile(f);
    for (const auto& [path, word] : attributes)
        s.setAttributes(path, word);
    for (const auto& [path, id] : ids)
        s.entry(path).id = CFileId::fromText(id);
    return s;
}

AttributeMap attributesIn(const CDirSnapshot& snapshot) {
    AttributeMap map;
    for (const auto& [path, entry] : snapshot.entries)
        if (entry.hasAttributes)
            map.emplace(path, entry.attributes);
    return map;
}

TextMap idsIn(const CDirSnapshot& snapshot) {
    TextMap map;
    for (const auto& [path, entry] : snapshot.entries)
        if (entry.id.present())
            map.emplace(path, entry.id.text());
    return map;
}

MetaMap metadataIn(const CDirSnapshot& snapshot) {
    MetaMap map;
    for (const auto& [path, entry] : snapshot.entries)
        if (entry.hasMeta)
            map.emplace(path, entry.meta);
    return map;
}

std::vector<std::u16string> listed(const CPathRefs& paths) {
    return {paths.begin(), paths.end()};
}

std::vector<std::string> narrowed(const CPathRefs& paths) {
    return narrowed(PathList(paths.begin(), paths.end()));
}

} // namespace testing_support
