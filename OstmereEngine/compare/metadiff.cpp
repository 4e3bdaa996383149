#include "compare/metadiff.h"

#include "snapshot/metadata.h"

#include <unordered_set>

namespace ostmere {

void addMetadataChanges(CPatchInfo& info, const CDirSnapshot& newer, const CDirSnapshot& older) {
    if (!newer.hasMetadata() && newer.files.size() + newer.directories.size() > 0)
        return;
    // Items written by the patch, and the directories whose entries it changes: applying
    // gives those new times, so the newer tree's must be set again.
    std::unordered_set<std::u16string> created;
    for (const PathList* list : {&info.NewFiles, &info.ChangedFiles, &info.NewDirs,
                                 &info.UnlinkedFiles, &info.UnlinkedDirectories})
        for (const auto& path : *list) {
            created.insert(path);
            created.insert(path.substr(0, path.rfind(u'\\')));
        }
    info.metadata.clear();
    CSortedLookup olderEntries(older.entries);
    for (const auto& [path, entry] : newer.entries) {
        if (!entry.hasMeta)
            continue;
        const CEntry* before = olderEntries(path);
        const bool same =
            before && before->hasMeta && before->meta == entry.meta && !created.count(path);
        if (!same)
            info.metadata.emplace_hint(info.metadata.end(), path, entry.meta);
    }
    info.metadataDigest = calcMetadataDigest(newer);
    info.hasMetadata = true;
}

} // namespace ostmere
