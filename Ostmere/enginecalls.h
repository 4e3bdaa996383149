// The engine operations the pages start, as a table of callables so that a caller can put
// its own functions in place of the engine's (the tests record the arguments this way).
#pragma once

#include "OstmereEngine.h"

#include <functional>
#include <string>

struct EngineCalls {
    using Text = std::u16string;

    std::function<void(CProgressSink*, Text, Text, Text, Text, Text)> diffCreatePatch;
    std::function<void(CProgressSink*, Text, Text, Text, Text, bool)> createPatchVault;
    std::function<void(CProgressSink*, Text, Text, Text, bool, bool)> applyPatch;
    std::function<void(CProgressSink*, Text, Text)> querryPatch;
    std::function<void(CProgressSink*, Text, Text, Text)> createVault;
    std::function<Text(CProgressSink*, Text, Text)> fingerprint;

    // The table of the engine library's own exported functions.
    static EngineCalls engine();
};
