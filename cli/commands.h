// The commands of the ostmere program (the table lives in commands.cpp).
#pragma once

#include "cmdline.h"
#include "json.h"

// Summary of a patch as a JSON object: fingerprints, counts and sizes.
JsonObject patchJson(const ostmere::PatchSummary& s);
