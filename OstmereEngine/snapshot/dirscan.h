// The snapshot of a directory tree, the ignore filter and the tree scan.
#pragma once

#include "OstmereEngine.h"
#include "core/itemmeta.h"
#include "snapshot/entries.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace ostmere {

using PathList = std::deque<std::u16string>;
using TextMap = std::map<std::u16string, std::u16string>;

// The directory in which an apply stages its work, at the root of the target. No scan sees it,
// so it never enters a fingerprint, a vault or a patch.
inline constexpr char16_t kStagingAreaName[] = u".ostmere-staging";

struct CDirSnapshot {
    std::u16string root;
    std::u16string filterText;
    PathList ignoredItems;
    // Items of the ignored list that the scan skipped for their kind (named pipes, sockets,
    // device nodes), with the reason; the filter's matches have no entry here.
    TextMap skipReasons;
    TextMap infoEntries;
    // Every path the snapshot knows, with what it knows of it; the lists below hold entries
    // of this map. A vault may name a path in one of its lists and not in another.
    EntryMap entries;
    CPathRefs directories;
    CPathRefs files;

    CDirSnapshot() = default;
    // A copy's lists hold the copy's own entries.
    CDirSnapshot(const CDirSnapshot& other);
    CDirSnapshot& operator=(const CDirSnapshot& other);
    // A moved map keeps its nodes, so the lists stay valid.
    CDirSnapshot(CDirSnapshot&&) = default;
    CDirSnapshot& operator=(CDirSnapshot&&) = default;

    // The entry of a path, made when missing; a path arriving in ascending order is placed
    // without a search.
    CEntry& entry(const std::u16string& path) { return entryRef(path)->second; }
    EntryRef entryRef(const std::u16string& path);
    const CEntry* find(const std::u16string& path) const;
    CEntry& addDirectory(const std::u16string& path);
    CEntry& addFile(const std::u16string& path);
    void setAttributes(const std::u16string& path, uint32_t word);
    // 0 when the path has no attribute word.
    uint32_t attributesOf(const std::u16string& path) const;
    // The id's text; empty when the path has none.
    std::u16string fileIdOf(const std::u16string& path) const;
    // Whether any item carries permission bits and times.
    bool hasMetadata() const;
};

struct CFilterSegment {
    enum Kind { exact, afterStar, beforeStar };
    Kind kind;
    std::u16string literal;
};

class CIgnoreFilter {
  public:
    explicit CIgnoreFilter(std::vector<std::vector<CFilterSegment>> patterns)
        : patterns_(std::move(patterns)) {}
    bool matches(const std::u16string& relPath) const;

  private:
    std::vector<std::vector<CFilterSegment>> patterns_;
};

// Splits at the first delimiter; returns whether it occurs.
bool splitFirst(const std::u16string& text, char16_t delimiter, std::u16string& before,
                std::u16string& after);
std::vector<CFilterSegment> compilePattern(const std::u16string& pattern);
CIgnoreFilter compileFilter(const std::u16string& filterText);

class CTreeVisitor {
  public:
    virtual void onIgnored(CProgressSink* sink, const std::u16string& root,
                           const std::u16string& relPath) = 0;
    // An item that has no content to carry; reason names its kind.
    virtual void onSkipped(CProgressSink* sink, const std::u16string& root,
                           const std::u16string& relPath, const char16_t* reason) = 0;
    virtual void onDirectory(CProgressSink* sink, const std::u16string& root,
                             const std::u16string& relPath) = 0;
    virtual void onFile(CProgressSink* sink, const std::u16string& root,
                        const std::u16string& relPath) = 0;
    // Called before onDirectory and onFile with the entry's open directory and raw name, for a
    // visitor that reads each item's status where the walk stands instead of by its path.
    virtual void onEntry(int /*directory*/, const std::string& /*name*/,
                         const std::u16string& /*relPath*/) {}

  protected:
    ~CTreeVisitor() = default;
};

class CCountVisitor final : public CTreeVisitor {
  public:
    void onIgnored(CProgressSink*, const std::u16string&, const std::u16string&) override {}
    void onSkipped(CProgressSink*, const std::u16string&, const std::u16string&,
                   const char16_t*) override {}
    void onDirectory(CProgressSink* sink, const std::u16string& root,
                     const std::u16string& relPath) override;
    void onFile(CProgressSink* sink, const std::u16string& root,
                const std::u16string& relPath) override;
    uint32_t files = 0, directories = 0, total = 0;
};

class CCollectVisitor final : public CTreeVisitor {
  public:
    explicit CCollectVisitor(CDirSnapshot& snapshot) : snapshot_(snapshot) {}
    void onIgnored(CProgressSink* sink, const std::u16string& root,
                   const std::u16string& relPath) override;
    void onSkipped(CProgressSink* sink, const std::u16string& root, const std::u16string& relPath,
                   const char16_t* reason) override;
    void onDirectory(CProgressSink* sink, const std::u16string& root,
                     const std::u16string& relPath) override;
    void onFile(CProgressSink* sink, const std::u16string& root,
                const std::u16string& relPath) override;
    // Attribute word, permission bits and time from one stat relative to the open directory;
    // a failure is kept as an invalid word for the attribute stage to raise.
    void onEntry(int directory, const std::string& name, const std::u16string& relPath) override;

  private:
    // The entry the last onEntry filled, which the onDirectory or onFile after it lists.
    EntryRef entryOf(const std::u16string& relPath);
    CDirSnapshot& snapshot_;
    EntryRef last_ = nullptr;
};

void walkTree(CProgressSink* sink, const std::u16string& root, const std::u16string& relPath,
              CTreeVisitor& visitor, const CIgnoreFilter& filter);
CDirSnapshot scanDirectory(CProgressSink* sink, const std::u16string& root,
                           const std::u16string& filterText);
// One line naming what a scan skipped for its kind, for the sink's notice; empty when nothing.
std::u16string skippedNotice(const TextMap& skipReasons);
// Sets "ComputerName", "UserName" and "DateCreated".
void addCreationInfo(TextMap& entries);
// "Sun Dec 06 02:13:08 2026\n" for a local time.
std::u16string ctimeText(int64_t time);

} // namespace ostmere
