// Texts for people: engine paths in the system's own form, errors as one "ostmere:" line.
#pragma once

#include "OstmereEngine.h"

#include <string>

// "\tmp\x" as the engine writes paths -> "/tmp/x". A name never holds "\", so every one in an
// engine text separates path components.
std::string nativeText(const std::u16string& engineText);
// A relative path from a patch ("\sub\b.txt") as "sub/b.txt".
std::string relativeText(const std::u16string& relativePath);

// The one line for an engine error: its message, and the system's reason when a failed system
// call caused it.
std::string errorLine(const CTKErr& error);
