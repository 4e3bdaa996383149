// Raising engine errors with the raising module's source file and line.
#pragma once

#include "OstmereEngine.h"

#include <string>

namespace ostmere {

// Base name of a source path, at compile time: "a/b/fileio.cpp" -> "fileio.cpp".
constexpr const char* baseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    return base;
}

[[noreturn]] void raise(std::u16string message, const char* file, int line);
[[noreturn]] void raise(eErrKind kind, std::u16string message, const char* file, int line);
// For a failed system call: the error carries the errno that call left.
[[noreturn]] void raiseSystem(std::u16string message, const char* file, int line);

// Decimal ("%d") and lower-case hexadecimal ("%x") texts as the messages and files use them.
std::u16string decimal(int64_t value);
std::u16string hex(uint32_t value);

} // namespace ostmere

#define TK_RAISE(message) ::ostmere::raise((message), ::ostmere::baseName(__FILE__), __LINE__)
#define TK_RAISE_SYSTEM(message)                                                                   \
    ::ostmere::raiseSystem((message), ::ostmere::baseName(__FILE__), __LINE__)
#define TK_RAISE_KIND(kind, message)                                                               \
    ::ostmere::raise((kind), (message), ::ostmere::baseName(__FILE__), __LINE__)
