// What every exported operation shares before it starts working: argument normalisation.
#pragma once

#include <string>

namespace ostmere {

// Drops empty components and joins the rest with single "\"; nothing else changes.
std::u16string normalizePath(const std::u16string& directory);
// True when the path's attributes can be read and carry the directory bit.
bool dirExists(const std::u16string& path);

} // namespace ostmere
