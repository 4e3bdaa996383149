// Catching the engine's error in tests: the action must leave with a CTKErr.
#pragma once

#include "OstmereEngine.h"

#include <gtest/gtest.h>

namespace testing_support {

// Runs action and returns the CTKErr it raised. When nothing is raised the test fails and the
// returned error carries a message that no expectation will accept.
template <class Action> CTKErr expectTKErr(Action&& action) {
    try {
        action();
    } catch (const CTKErr& e) {
        return e;
    }
    ADD_FAILURE() << "no CTKErr was raised";
    return CTKErr(eErrGeneral, u"(no CTKErr raised)", "", -1);
}

} // namespace testing_support
