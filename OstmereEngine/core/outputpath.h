// Where the engine may write its own files (patches, reports, vaults), and writing them so that
// the file at that path is only ever replaced by a complete, synced new one.
#pragma once

#include "core/descriptor.h"
#include "core/fileReader.h"

#include <string>
#include <vector>

namespace ostmere {

// The files and trees one operation works with.
struct COutputRoles {
    std::vector<std::u16string> outputs; // files it writes (empty names are not used)
    std::vector<std::u16string> inputs;  // files it reads
    std::vector<std::u16string> trees;   // directories it compares or changes
};

// Refuses an output that exists as something other than a regular file (a link to one is
// fine: it is written through and stays a link).
void requireRegularOutput(const std::u16string& path);
// The above for every output, and refuses one file in two roles and an output inside a tree.
void requireSafeOutputs(const COutputRoles& roles);

// A new content for a file, written to a temporary file beside it and renamed over it by
// commit() once complete and synced. Until then the earlier file stays as it was; without a
// commit the temporary file is removed. The replaced file's mode (and owner, for root) carry
// over. Temporary files that killed runs left in the directory are removed on the way. The
// temporary file is open for reading too, so that what was written can be signed before commit.
class CReplacingFile {
  public:
    explicit CReplacingFile(const std::u16string& path);
    ~CReplacingFile();
    CReplacingFile(const CReplacingFile&) = delete;
    CReplacingFile& operator=(const CReplacingFile&) = delete;

    COutputFile& file() { return file_; }
    void commit();

  private:
    std::u16string path_;
    std::string target_, temp_;
    CDescriptor directory_;
    COutputFile file_;
    bool committed_ = false;
};

// Name of a temporary file of this process for the target's directory and name, and whether a
// name is one of ours whose writer (on this machine) is gone.
std::string temporaryName(const std::string& leaf, unsigned attempt);
bool isAbandonedTemporary(const std::string& name);

} // namespace ostmere
