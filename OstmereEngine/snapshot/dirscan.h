// The snapshot of a directory tree, the ignore filter and the tree scan.
#pragma once

#include "OstmereEngine.h"
#include "core/itemmeta.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace ostmere {

using PathList = std::deque<std::u16string>;
// std::u16string compares char16_t as unsigned code units: the ordinal order.
using AttributeMap = std::map<std::u16string, uint32_t>;
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
    PathList directories;
    PathList files;
    AttributeMap attributes;
    TextMap fileIds;
    // Permission bits and times of directories and files where they were read; empty for a
    // vault written without them.
    MetaMap meta;

    // Insert-on-miss lookups used by the comparison and the fingerprint.
    const std::u16string& fileIdOf(const std::u16string& relPath) { return fileIds[relPath]; }
    uint32_t attributesOf(const std::u16string& relPath) { return attributes[relPath]; }
};

// Insert-on-miss lookups of keys taken in ascending order: each search first tries the entry
// after the previous key, so walking a sorted list over its map costs one comparison per key
// instead of a descent from the root.
template <class Map> class CSortedLookup {
  public:
    explicit CSortedLookup(Map& map) : map_(map), next_(map.begin()) {}
    typename Map::mapped_type& operator[](const std::u16string& key) {
        auto it = next_ != map_.end() && next_->first == key ? next_ : map_.try_emplace(key).first;
        next_ = std::next(it);
        return it->second;
    }

  private:
    Map& map_;
    typename Map::iterator next_;
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
    CDirSnapshot& snapshot_;
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
