#include "compare/prediction.h"

#include "core/platform.h"
#include "snapshot/fingerprint.h"

#include <set>

namespace ostmere {

namespace {

// The prediction is part of the staging stage; its own fingerprint pass shows no progress.
class CSilentSink final : public CProgressSink {
  public:
    explicit CSilentSink(CProgressSink* buffers) : buffers_(buffers) {}
    uint32_t getBufferSize() override { return buffers_->getBufferSize(); }
    uint8_t* getBuffer() override { return buffers_->getBuffer(); }
    void setStatus(const std::u16string&) override {}
    void setDetail(const std::u16string&) override {}
    void showMessage(const std::u16string&) override {}
    void setProgressRange(uint32_t) override {}
    void resetProgress() override {}
    void stepProgress() override {}

  private:
    CProgressSink* buffers_;
};

// What setting the word will leave on an item of that kind. A link has no bits of its own:
// its word stays that of a writable link.
uint32_t wordAfterSetting(bool directory, bool link, uint32_t word) {
    if (link)
        return FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
    return (directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE) |
           (word & FILE_ATTRIBUTE_READONLY);
}

} // namespace

std::u16string predictFingerprint(const CDirSnapshot& current, const CPatchInfo& patch,
                                  const TextMap& stagedIds, CProgressSink* bufferSource) {
    std::set<std::u16string> removed(patch.UnlinkedFiles.begin(), patch.UnlinkedFiles.end());
    removed.insert(patch.UnlinkedDirectories.begin(), patch.UnlinkedDirectories.end());
    std::set<std::u16string> directories, files;
    for (const auto& d : current.directories)
        if (!removed.count(d))
            directories.insert(d);
    directories.insert(patch.NewDirs.begin(), patch.NewDirs.end());
    for (const auto& f : current.files)
        if (!removed.count(f))
            files.insert(f);

    CDirSnapshot next;
    auto place = [&](const std::u16string& path, bool directory, CEntry& entry) {
        auto change = patch.AttributeChanges.find(path);
        const CEntry* now = current.find(path);
        const bool staged = stagedIds.count(path) != 0;
        // A staged item is a link when the patch's word says so; one kept keeps its kind.
        const bool link = staged
                              ? change != patch.AttributeChanges.end() && isLinkWord(change->second)
                              : now && now->hasAttributes && isLinkWord(now->attributes);
        if (change != patch.AttributeChanges.end())
            entry.setAttributes(wordAfterSetting(directory, link, change->second));
        else if (now && now->hasAttributes && !staged)
            entry.setAttributes(now->attributes);
        else // created without a word to set: as a new item comes out
            entry.setAttributes(wordAfterSetting(directory, link, 0));
    };
    for (const auto& d : directories)
        place(d, true, next.addDirectory(d));
    for (const auto& [path, id] : stagedIds)
        files.insert(path);
    for (const auto& f : files) {
        CEntry& entry = next.addFile(f);
        place(f, false, entry);
        auto staged = stagedIds.find(f);
        const CEntry* kept = current.find(f);
        if (staged != stagedIds.end())
            entry.id = CFileId::fromText(staged->second);
        else if (kept && kept->id.present())
            entry.id = kept->id;
    }
    CSilentSink silent(bufferSource);
    return calcFingerprint(next, &silent);
}

} // namespace ostmere
