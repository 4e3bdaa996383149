// The phases that change the target once every stored file is staged: removals, new
// directories, staged files renamed over their destinations, attributes. Each acts through the
// directory descriptors of core/beneath, and each is safe to run again after an interruption.
#pragma once

#include "apply/applyhooks.h"
#include "apply/staging.h"
#include "compare/patchinfo.h"
#include "core/fileReader.h"

namespace ostmere {

class CApplyRun {
  public:
    struct Place {
        int root;
        const std::u16string& directory;
        CStagingArea& staging;
        CApplyHooks* hooks;
    };
    // resuming: an earlier run of the same patch may have done any part already; what it did
    // counts as done.
    CApplyRun(CProgressSink* sink, const Place& place, const CPatchInfo& patch, bool tolerant,
              bool resuming)
        : sink_(sink), place_(place), resolver_(place.root), patch_(patch), tolerant_(tolerant),
          resuming_(resuming) {}

    void removeFiles();
    void removeDirectories();
    void createDirectories();
    void restoreFiles(const FileTable& table);
    void restoreAttributes();
    // Sets the permission bits and modification times the patch carries, deepest items first,
    // after every other change (a mode wins over the read-only bit of an attribute word). It
    // adds no sink calls of its own.
    void restoreMetadata(bool keepSetuid);
    CPatchInfo& applied() { return applied_; }

  private:
    void beginPhase(const char16_t* status, size_t count);
    // The open directory of relPath, or -1 when it cannot be reached; a link on the way is
    // refused (skipped when tolerant).
    int reach(const std::u16string& relPath, std::string& leaf);
    int writable(int dir, const std::function<int()>& op);
    bool removeOne(const std::u16string& entry);
    bool alreadyDone(bool done) const { return resuming_ && done; }

    CProgressSink* sink_;
    Place place_;
    CParentResolver resolver_;
    const CPatchInfo& patch_;
    bool tolerant_, resuming_;
    bool refusedLink_ = false; // the last reach() met a link (tolerant runs only)
    CPatchInfo applied_;
};

} // namespace ostmere
