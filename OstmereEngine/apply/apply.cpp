// Applying a patch to a directory.
#include "core/fileReader.h"
#include "core/fileio.h"
#include "core/frame.h"
#include "core/outputpath.h"
#include "core/platform.h"
#include "core/tkerr.h"
#include "patch/patchformat.h"
#include "snapshot/fingerprint.h"
#include "xml/xmlrep.h"

#include <algorithm>

TK_MODULE("fileio");

namespace ostmere {

namespace {

class CApplyRun {
  public:
    CApplyRun(CProgressSink* sink, const std::u16string& directory, const CPatchInfo& patch,
              bool continueOnErrors)
        : sink_(sink), dir_(directory), patch_(patch), tolerant_(continueOnErrors) {}

    void removeFiles();
    void removeDirectories();
    void createDirectories();
    void restoreFiles(CFileReader& in, const FileTable& table);
    void restoreAttributes();
    CPatchInfo& applied() { return applied_; }

  private:
    void beginPhase(const char16_t* status, size_t count) {
        sink_->setStatus(status);
        sink_->setProgressRange(static_cast<uint32_t>(count));
    }
    // A path through a link inside the target is a failure of its item: skipped when
    // tolerant, fatal otherwise.
    bool reachable(const std::u16string& relPath) {
        if (!linkOnTheWay(dir_, relPath))
            return true;
        if (!tolerant_)
            requireNoLinkOnTheWay(dir_, relPath);
        return false;
    }
    bool removeEntry(const std::u16string& entry) {
        return reachable(entry) && removeItem(tolerant_, dir_ + entry);
    }

    CProgressSink* sink_;
    const std::u16string& dir_;
    const CPatchInfo& patch_;
    bool tolerant_;
    CPatchInfo applied_;
};

void CApplyRun::removeFiles() {
    beginPhase(u"Removing Files.", patch_.UnlinkedFiles.size());
    for (const auto& entry : patch_.UnlinkedFiles) {
        sink_->stepProgress();
        sink_->setDetail(u"Removing: " + entry);
        if (removeEntry(entry))
            applied_.UnlinkedFiles.push_back(entry);
    }
}

void CApplyRun::removeDirectories() {
    PathList order = patch_.UnlinkedDirectories;
    std::sort(order.begin(), order.end());
    beginPhase(u"Removing Directories.", order.size());
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        sink_->stepProgress();
        sink_->setDetail(u"Removing: " + *it);
        if (removeEntry(*it))
            applied_.UnlinkedDirectories.push_back(*it);
    }
}

void CApplyRun::createDirectories() {
    beginPhase(u"Creating Directories.", patch_.NewDirs.size());
    for (const auto& entry : patch_.NewDirs) {
        sink_->stepProgress();
        sink_->setDetail(u"Creating: " + entry);
        if (!reachable(entry))
            continue;
        if (createDirectory(dir_ + entry))
            applied_.NewDirs.push_back(entry);
        else if (!tolerant_)
            TK_RAISE(u"Unable to create a directory. " + dir_ + entry);
    }
}

void CApplyRun::restoreFiles(CFileReader& in, const FileTable& table) {
    beginPhase(u"Restoring files.", table.size());
    for (const auto& [key, position] : table) {
        sink_->stepProgress();
        sink_->setDetail(u"Extructing file: " + key);
        if (!reachable(key))
            continue;
        in.extractFile(tolerant_, sink_, position, dir_);
        applied_.ChangedFiles.push_back(key);
    }
}

void CApplyRun::restoreAttributes() {
    beginPhase(u"Restoring FS attributes.", patch_.AttributeChanges.size());
    for (const auto& [key, word] : patch_.AttributeChanges) {
        sink_->stepProgress();
        sink_->setDetail(u"Restoring: " + dir_ + u"\\" + key);
        if (reachable(key) && setFileAttributes(dir_ + u"\\" + key, word))
            applied_.AttributeChanges[key] = word;
        else if (!tolerant_)
            TK_RAISE(u"Unable to set attributes on a file " + key);
    }
}

std::u16string fingerprintOf(CProgressSink* sink, const std::u16string& directory,
                             const std::u16string& filter) {
    CDirSnapshot snapshot = scanDirectory(sink, directory, filter);
    return calcFingerprint(snapshot, sink);
}

// Paths that could leave the target are refused before the target is touched; the records
// themselves were checked against the table by loadPatchInfo.
FileTable readCheckedFileTable(CFileReader& in, uint64_t tablePosition, const CPatchInfo& patch) {
    requireSafePaths(patch);
    in.seek(tablePosition);
    return in.readFileTable();
}

} // namespace

} // namespace ostmere

using namespace ostmere;

ApplyResult ostmere::applyPatch(CProgressSink* sink, std::u16string directory,
                                std::u16string patchFile, std::u16string reportFile,
                                const ApplyOptions& options) {
    const bool continueOnErrors = options.continueOnErrors;
    const bool ignoreFingerprint = options.ignoreFingerprint;
    directory = normalizePath(directory);
    sink->setStatus(u"Applying a file");
    const CPatchInfo patch = loadPatchInfo(sink, patchFile);
    if (!dirExists(directory))
        TK_RAISE(u"Directory for patch application does  not exists: " + directory);
    requireSafeOutputs({{reportFile}, {patchFile}, {directory}});
    CInputFile in(patchFile);
    const uint64_t tablePosition = in.readHeader();
    const FileTable table = readCheckedFileTable(in, tablePosition, patch);

    if (fingerprintOf(sink, directory, patch.filter) != patch.OlderTreeID && !ignoreFingerprint)
        TK_RAISE_KIND(eKindTargetMismatch,
                      u"Trying to apply a patch to dirrectory with different fingerprint.");

    CApplyRun run(sink, directory, patch, continueOnErrors);
    run.removeFiles();
    run.removeDirectories();
    run.createDirectories();
    run.restoreFiles(in, table);
    run.restoreAttributes();
    addCreationInfo(run.applied().infoEntries);
    if (!reportFile.empty())
        writeDiffReport(sink, reportFile, run.applied());
    sink->setStatus(u"Patch applied ok.");
    if (ignoreFingerprint)
        return ApplyResult::notVerified;
    if (fingerprintOf(sink, directory, patch.filter) != patch.NewerTreeID) {
        sink->setStatus(u"After patch has been aplied fingerprints do not match.");
        return ApplyResult::newerMismatch;
    }
    sink->setStatus(u"New fingerprint verified.");
    return ApplyResult::verified;
}

void tkApplyPatch(CProgressSink* sink, std::u16string directory, std::u16string patchFile,
                  std::u16string reportFile, bool continueOnErrors, bool ignoreFingerprint) {
    applyPatch(sink, std::move(directory), std::move(patchFile), std::move(reportFile),
               {continueOnErrors, ignoreFingerprint});
}
