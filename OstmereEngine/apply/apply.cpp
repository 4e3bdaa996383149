// Applying a patch to a directory. Every stored file is staged inside the target and the
// outcome predicted before the target changes; the change itself is a run of renames, removals
// and creations through directory descriptors, recorded so that an interrupted run can finish.
#include "apply/applyhooks.h"
#include "apply/commit.h"
#include "apply/staging.h"
#include "compare/prediction.h"
#include "core/beneath.h"
#include "core/fileReader.h"
#include "core/frame.h"
#include "core/outputpath.h"
#include "core/platform.h"
#include "core/tkerr.h"
#include "patch/compactformat.h"
#include "patch/patchformat.h"
#include "snapshot/fingerprint.h"
#include "snapshot/metadata.h"
#include "xml/xmlrep.h"

#include <unistd.h>

TK_MODULE("fileio");

namespace ostmere {

namespace {

bool insideStagingArea(const std::u16string& path) {
    const std::u16string prefix = std::u16string(u"\\") + kStagingAreaName;
    return path.compare(0, prefix.size(), prefix) == 0 &&
           (path.size() == prefix.size() || path[prefix.size()] == u'\\');
}

void refuseStagingPaths(const CPatchInfo& patch, const FileTable& table) {
    auto refuse = [](const std::u16string& path) {
        if (insideStagingArea(path))
            TK_RAISE(u"Refusing a patch path inside the apply staging area: " + path);
    };
    for (const PathList* list : {&patch.UnlinkedDirectories, &patch.UnlinkedFiles, &patch.NewDirs,
                                 &patch.ChangedFiles, &patch.NewFiles})
        for (const auto& path : *list)
            refuse(path);
    for (const auto& entry : patch.AttributeChanges)
        refuse(entry.first);
    for (const auto& entry : table)
        refuse(entry.first);
}

// Paths that could leave the target are refused before the target is touched; the records
// themselves were checked against the table by loadPatchInfo.
FileTable readCheckedFileTable(CFileReader& in, uint64_t tablePosition, const CPatchInfo& patch) {
    requireSafePaths(patch);
    in.seek(tablePosition);
    FileTable table = in.readFileTable();
    refuseStagingPaths(patch, table);
    return table;
}

// True when an earlier run of this patch was interrupted after it began to change the target.
// An area left before that point is cleared; one of another patch is refused.
bool findInterrupted(CStagingArea& staging, const ApplyJournal& mine,
                     const std::u16string& directory) {
    if (!staging.openExisting())
        return false;
    ApplyJournal found;
    const bool committed = staging.readJournal(found);
    if (committed && !(found == mine))
        TK_RAISE(u"The directory holds an interrupted apply of another patch (older fingerprint " +
                 found.olderTreeID + u", newer fingerprint " + found.newerTreeID +
                 u"); apply that patch to it again to finish: " + directory);
    staging.restoreModes();
    if (!committed)
        staging.remove();
    return committed;
}

// target: the guard scan, whose ids compact deltas are decoded against.
TextMap stageFiles(CProgressSink* sink, CFileReader& in, const FileTable& table,
                   const CPatchInfo& patch, CStagingArea& staging, const CDirSnapshot& target) {
    sink->setStatus(u"Staging files.");
    sink->setProgressRange(static_cast<uint32_t>(table.size()));
    std::unique_ptr<CZstdCoder> coder;
    std::unique_ptr<CompactStaging> decoding;
    if (patch.compact) {
        coder = std::make_unique<CZstdCoder>();
        decoding = std::make_unique<CompactStaging>(CompactStaging{*coder, target});
    }
    TextMap ids;
    size_t index = 0;
    for (const auto& [key, position] : table) {
        sink->stepProgress();
        sink->setDetail(u"Staging: " + key);
        const auto word = patch.AttributeChanges.find(key);
        const bool link = word != patch.AttributeChanges.end() && isLinkWord(word->second);
        ids[key] = staging.stage(in, sink, position, index++, key, link, decoding.get());
    }
    return ids;
}

struct Request {
    const std::u16string& directory;
    const std::u16string& patchFile;
    const CPatchInfo& patch;
    const ApplyOptions& options;
};

// Everything before the first change: the guard, the staged files, the prediction, the journal.
void prepare(CProgressSink* sink, const Request& r, CFileReader& in, const FileTable& table,
             CStagingArea& staging, const ApplyJournal& journal) {
    CDirSnapshot current = scanDirectory(sink, r.directory, r.patch.filter);
    if (calcFingerprint(current, sink) != r.patch.OlderTreeID && !r.options.ignoreFingerprint)
        TK_RAISE_KIND(eKindTargetMismatch,
                      u"Trying to apply a patch to dirrectory with different fingerprint.");
    staging.create();
    const TextMap ids = stageFiles(sink, in, table, r.patch, staging, current);
    // Without the guard the target's state is unknown, and so is the outcome.
    if (!r.options.ignoreFingerprint &&
        predictFingerprint(current, r.patch, ids, sink) != r.patch.NewerTreeID) {
        staging.remove();
        TK_RAISE(u"The patch's stored files do not give its newer fingerprint (damaged "
                 u"patch); the directory was not changed: " +
                 r.patchFile);
    }
    staging.commitJournal(journal);
}

ApplyResult verify(CProgressSink* sink, const Request& r) {
    if (r.options.ignoreFingerprint)
        return ApplyResult::notVerified;
    CDirSnapshot result = scanDirectory(sink, r.directory, r.patch.filter);
    if (calcFingerprint(result, sink) != r.patch.NewerTreeID) {
        sink->setStatus(u"After patch has been aplied fingerprints do not match.");
        return ApplyResult::newerMismatch;
    }
    if (r.patch.hasMetadata && calcMetadataDigest(result) != r.patch.metadataDigest) {
        sink->setStatus(u"After patch has been applied the permission bits do not match.");
        return ApplyResult::metadataMismatch;
    }
    sink->setStatus(u"New fingerprint verified.");
    return ApplyResult::verified;
}

} // namespace

ApplyResult applyPatchWithHooks(CProgressSink* sink, std::u16string directory,
                                std::u16string patchFile, std::u16string reportFile,
                                const ApplyOptions& options, CApplyHooks* hooks) {
    directory = normalizePath(directory);
    sink->setStatus(u"Applying a file");
    const CPatchInfo patch = loadPatchInfo(sink, patchFile);
    if (!dirExists(directory))
        TK_RAISE(u"Directory for patch application does  not exists: " + directory);
    requireSafeOutputs({{reportFile}, {patchFile}, {directory}});
    CInputFile in(patchFile);
    const uint64_t tablePosition = in.readHeader();
    const FileTable table = readCheckedFileTable(in, tablePosition, patch);
    const CDescriptor root = openDirectory(directory);
    if (!root)
        TK_RAISE(u"Directory for patch application does  not exists: " + directory);

    const Request request{directory, patchFile, patch, options};
    const ApplyJournal journal{patch.OlderTreeID, patch.NewerTreeID,
                               static_cast<uint64_t>(in.size()), tablePosition};
    CStagingArea staging(root.get(), directory);
    const bool resuming = findInterrupted(staging, journal, directory);
    if (!resuming)
        prepare(sink, request, in, table, staging, journal);

    CApplyRun run(sink, {root.get(), directory, staging, hooks}, patch, options.continueOnErrors,
                  resuming);
    run.removeFiles();
    run.removeDirectories();
    run.createDirectories();
    run.restoreFiles(table);
    run.restoreAttributes();
    run.restoreMetadata(options.keepSetuid);
    addCreationInfo(run.applied().infoEntries);
    if (!reportFile.empty())
        writeDiffReport(sink, reportFile, run.applied());
    // Success is reported only for what is on disk.
    if (syncfs(root.get()) != 0)
        TK_RAISE(u"Unable to write a dest file:" + directory);
    sink->setStatus(u"Patch applied ok.");
    const ApplyResult result = verify(sink, request);
    staging.remove();
    return result;
}

} // namespace ostmere

using namespace ostmere;

ApplyResult ostmere::applyPatch(CProgressSink* sink, std::u16string directory,
                                std::u16string patchFile, std::u16string reportFile,
                                const ApplyOptions& options) {
    return applyPatchWithHooks(sink, std::move(directory), std::move(patchFile),
                               std::move(reportFile), options, nullptr);
}

void tkApplyPatch(CProgressSink* sink, std::u16string directory, std::u16string patchFile,
                  std::u16string reportFile, bool continueOnErrors, bool ignoreFingerprint) {
    applyPatch(sink, std::move(directory), std::move(patchFile), std::move(reportFile),
               {continueOnErrors, ignoreFingerprint});
}
