#include "enginecalls.h"

EngineCalls EngineCalls::engine() {
    EngineCalls calls;
    calls.diffCreatePatch = tkDiffCreatePatch;
    calls.createPatchVault = tkCreatePatchVault;
    calls.applyPatch = tkApplyPatch;
    calls.querryPatch = tkQuerryPatch;
    calls.createVault = tkCreateVault;
    calls.fingerprint = tkFingerprint;
    return calls;
}
