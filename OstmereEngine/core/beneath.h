// Reaching items beneath a directory held open, never through a symbolic link: every change a
// patch makes is an *at call on a directory descriptor obtained this way, so a directory swapped
// for a link while the tree is being changed cannot lead anywhere else.
#pragma once

#include "core/descriptor.h"

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>

namespace ostmere {

// Opens an existing directory (the target itself; links in its own path are the caller's
// choice). Invalid, with errno set, on failure.
CDescriptor openDirectory(const std::u16string& path);

// Opens the directory relDir ("\a\b"; "" is the root itself) beneath root, refusing every
// symbolic link on the way. Invalid, with errno set, on failure.
CDescriptor openDirectoryBeneath(int root, const std::u16string& relDir);
// True when a component of relDir beneath root is a symbolic link (for telling a refused link
// from a missing directory after a failed open).
bool linkBeneath(int root, const std::u16string& relDir);

// "\a\b\c" -> parent "\a\b" and leaf "c" in the file system's form.
void splitLeaf(const std::u16string& relPath, std::u16string& parent, std::string& leaf);

// Resolves the parent directories of items processed in path order, keeping the last one open.
class CParentResolver {
  public:
    explicit CParentResolver(int root) : root_(root) {}
    // The descriptor of relPath's directory (owned by the resolver, valid until the next call
    // or forget()); -1 with errno set when it cannot be reached beneath the root.
    int parentOf(const std::u16string& relPath, std::string& leaf);
    const std::u16string& parentPath() const { return parent_; }
    // Directories may have been removed or created: open them afresh.
    void forget() { cached_.reset(), cachedPath_.clear(), haveCached_ = false; }

  private:
    int root_;
    CDescriptor cached_;
    std::u16string cachedPath_, parent_;
    bool haveCached_ = false;
};

// Remembers, before it is changed, a directory's mode that is changed only for the moment, so
// that an interrupted run can put it back.
class CModeLog {
  public:
    virtual void recordMode(const std::u16string& relDir, mode_t mode) = 0;

  protected:
    ~CModeLog() = default;
};

// fchmod on the directory; one opened only for searching goes through its /proc entry, which
// names exactly that directory.
int changeDirectoryMode(int dir, mode_t mode);

// Runs op (an *at call on dir returning -1 with errno on failure). When it fails for want of
// write permission on a directory whose owner may not write, owner write is added for the
// moment, op runs once more, and the directory's mode is restored. Returns op's result.
int withOwnerWrite(int dir, const std::u16string& relDir, CModeLog* log,
                   const std::function<int()>& op);

// Removes the entry itself: a directory (empty) with rmdir, anything else, links included,
// with unlink.
int removeEntry(int dir, const std::string& leaf);
// Sets the attribute word on the entry itself, never on what a link points at: 0x01 clears
// every write bit, without it owner write is added.
bool setEntryAttributes(int dir, const std::string& leaf, uint32_t attributes);
bool isDirectoryEntry(int dir, const std::string& leaf);
bool entryExists(int dir, const std::string& leaf);

} // namespace ostmere
