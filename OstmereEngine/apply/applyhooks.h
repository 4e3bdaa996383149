// The apply entry with a seam for tests: they reach into the moment between finding an item's
// directory and acting on the item, where another process could change the tree.
#pragma once

#include "OstmereEngine.h"

#include <string>

namespace ostmere {

class CApplyHooks {
  public:
    // Called once the directory of relPath is held open, just before relPath is acted on.
    virtual void beforeAct(const std::u16string& relPath) = 0;

  protected:
    ~CApplyHooks() = default;
};

// applyPatch with hooks (may be null).
ApplyResult applyPatchWithHooks(CProgressSink* sink, std::u16string directory,
                                std::u16string patchFile, std::u16string reportFile,
                                const ApplyOptions& options, CApplyHooks* hooks);

} // namespace ostmere
