// File-system names and the engine's form of them. The engine separates path components with
// "\", so a "\" inside a POSIX name is carried as U+F05C (the private-use stand-in that
// POSIX-on-Windows layers use for it). A name that really holds U+F05C keeps it as the lone
// surrogates of its three UTF-8 bytes, the same escape undecodable bytes use, so every name
// round-trips byte for byte.
#pragma once

#include <string>

namespace ostmere {

constexpr char16_t kBackslashStandIn = 0xF05C;

// A raw directory-entry name in engine form.
std::u16string engineName(const std::string& rawName);
// An engine-form name or path with "\" separators turned into "/" and stand-ins back into "\".
std::string nativeName(const std::u16string& name, char separator = '/');
// Escapes literal stand-ins of a text that came from outside (a path argument) so that
// nativeName gives its own bytes back.
std::u16string escapeStandIns(const std::u16string& text);

} // namespace ostmere
