// Raising engine errors with the raising module's source file and line.
#pragma once

#include "OstmereEngine.h"

#include <string>

namespace ostmere {

[[noreturn]] void raise(std::u16string message, const char* file, int line);
[[noreturn]] void raise(eErrKind kind, std::u16string message, const char* file, int line);

// Decimal ("%d") and lower-case hexadecimal ("%x") texts as the messages and files use them.
std::u16string decimal(int64_t value);
std::u16string hex(uint32_t value);
// True when text is exactly `digits` lower-case hexadecimal digits, as ids and digests are.
bool isLowerHex(const std::u16string& text, size_t digits);

} // namespace ostmere

// Every source file that raises names its module once, at file scope: TK_MODULE("fileio")
// makes its error locations read "fileio.cpp" wherever the file lives, so code can move
// between files without changing a message.
#define TK_MODULE(name)                                                                            \
    namespace {                                                                                    \
    [[maybe_unused]] constexpr const char* tkModuleFile = name ".cpp";                             \
    }                                                                                              \
    static_assert(true)

#define TK_RAISE(message) ::ostmere::raise((message), tkModuleFile, __LINE__)
#define TK_RAISE_KIND(kind, message) ::ostmere::raise((kind), (message), tkModuleFile, __LINE__)
