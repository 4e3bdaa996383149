// Helpers for the patch tests: making, reading and hand-crafting patch files.
#pragma once

#include "patch/patchformat.h"
#include "testsupport.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

// Runs f and returns the message of the CTKErr it raised, or "no error" / "cancelled".
// Any other exception is left to fail the test.
std::string errorOf(const std::function<void()>& f);

// tkDiffCreatePatch without a report.
void diffPatch(const fs::path& older, const fs::path& newer, const fs::path& patch,
               const std::string& filter = "");
std::u16string fingerprintOf(const fs::path& dir, const std::string& filter = "");
ostmere::CPatchInfo loadInfo(const fs::path& patch);

// Copies a tree with its permission bits; links are copied as links.
void copyTree(const fs::path& from, const fs::path& to);

std::string hexBytes(const std::string& bytes);

// A file record of a crafted patch. The file table names it by tableKey (by path when empty).
struct StoredFile {
    std::u16string path;
    std::string content;
    std::u16string tableKey;
};
// Writes a complete patch holding info and the given records with the engine's own typed
// writers; records are laid out in table-key order as the real writer does, and info's
// metadata record follows the table when it has one.
void writeCraftedPatch(const fs::path& patch, const ostmere::CPatchInfo& info,
                       std::vector<StoredFile> files);

// The content of a diff report: for each list element, the path of every "fNode" below it in
// document order (trees joined with "\\", flat lists as stored); "filter:" + list name for the
// filter attributes; "PatchInfo" as "name=value" lines.
using ReportContent = std::map<std::string, std::vector<std::string>>;
ReportContent readReport(const fs::path& report);

} // namespace testing_support
