// Writing a patch file (and its report) from two snapshots.
#pragma once

#include "compare/patchinfo.h"
#include "patch/signature.h"
#include "snapshot/dirscan.h"

namespace ostmere {

// Lets a caller act between the scan of the newer tree and the storing of its files, where a
// tree that changes under a running creation changes it.
class CCreationHook {
  public:
    virtual void beforeStore() = 0;

  protected:
    ~CCreationHook() = default;
};

// How the files go into the patch: the format, and for the compact one the older tree whose
// files changed files are coded against (null when it is not at hand, as with a vault).
struct PatchStore {
    CreateOptions options;
    const CDirSnapshot* older = nullptr;
    const CSigningKey* signer = nullptr; // signs the complete patch; null: unsigned
};

void createPatch(CProgressSink* sink, CDirSnapshot& newer, CDirSnapshot& older, CTimer* timer,
                 const std::u16string& patchFile, const std::u16string& reportFile,
                 CCreationHook* hook = nullptr, const PatchStore& store = {});
// newer: the scanned tree the stored files come from; every stored file must still have the
// id the scan computed. With a signer the patch is signed before it takes the place of an
// earlier file.
void writePatch(CProgressSink* sink, const CPatchInfo& info, const CDirSnapshot& newer,
                const std::u16string& patchFile, const PatchStore& store = {});

// tkDiffCreatePatch and tkCreatePatchVault with a hook and options (format, signing key).
void diffCreatePatch(CProgressSink* sink, std::u16string olderDir, std::u16string newerDir,
                     const std::u16string& patchFile, const std::u16string& reportFile,
                     const std::u16string& filter, CCreationHook* hook,
                     const CreateOptions& options = {});
void createPatchVault(CProgressSink* sink, std::u16string newerDir, const std::u16string& patchFile,
                      const std::u16string& vaultFile, const std::u16string& reportFile,
                      bool updateVault, CCreationHook* hook, const CreateOptions& options = {});

} // namespace ostmere
