// The staging area of an apply: a directory at the root of the target (so on the same file
// system) that holds every stored file of the patch, fully written and synced, before the target
// changes, the journal naming the patch, and the log of directory modes changed for the moment.
// Scans do not see it.
#pragma once

#include "apply/journal.h"
#include "core/beneath.h"
#include "core/fileReader.h"
#include "snapshot/dirscan.h"
#include "snapshot/sha1.h"

#include <functional>
#include <string>

namespace ostmere {

class CZstdCoder;

// What staging a compact record needs: the decoder, and the ids the guard scan found for the
// target's files (a delta is decoded only against a file with the id it was made against).
struct CompactStaging {
    CZstdCoder& coder;
    const CDirSnapshot& target;
};

class CStagingArea : public CModeLog {
  public:
    // root: the target held open; directory: its path as messages show it.
    CStagingArea(int root, const std::u16string& directory);
    // Removes an area this run created and did not keep (the target is then unchanged).
    ~CStagingArea();
    CStagingArea(const CStagingArea&) = delete;
    CStagingArea& operator=(const CStagingArea&) = delete;

    // Opens an area an earlier run left behind; false when there is none.
    bool openExisting();
    // False when the area holds no journal: the earlier run stopped before changing anything.
    bool readJournal(ApplyJournal& journal);
    void create();
    // Puts back the modes an interrupted run had changed for the moment.
    void restoreModes();
    // Copies the stored file record at position into the area as item `index`, through the
    // sink's buffer (decoding it when compact is given); returns the file id of the content.
    // asLink: the content is a link's target text, and the item staged is that link.
    std::u16string stage(CFileReader& patch, CProgressSink* sink, uint64_t position, size_t index,
                         const std::u16string& key, bool asLink,
                         const CompactStaging* compact = nullptr);
    // Syncs the staged files, then records the journal: from here on the area is kept.
    void commitJournal(const ApplyJournal& journal);
    int fd() const { return area_.get(); }
    static std::string itemName(size_t index) { return std::to_string(index); }
    // Removes the area and everything this engine puts into it.
    void remove();

    void recordMode(const std::u16string& relDir, mode_t mode) override;

  private:
    std::u16string areaPath() const;
    void writeWhole(int fd, const void* data, size_t size, const std::u16string& what);
    std::u16string stageLink(CFileReader& patch, uint64_t size, size_t index,
                             const std::u16string& key);
    std::u16string stageLinkText(const std::string& target, size_t index,
                                 const std::u16string& key);
    [[noreturn]] static void refuseLink(const std::u16string& key);
    std::string readWhole(const char* name);
    using ContentOutput = std::function<void(const uint8_t*, size_t)>;
    // Returns the id of the decoded content.
    std::u16string decodeCompact(CFileReader& patch, const CompactStaging& compact,
                                 const std::u16string& key, const ContentOutput& output);
    void copyContent(CFileReader& patch, CProgressSink* sink, uint64_t size, int out,
                     const std::u16string& destination, CSha1& sha);

    int root_;
    std::u16string directory_;
    CDescriptor area_;
    bool owned_ = false; // created by this run and not yet committed
};

} // namespace ostmere
