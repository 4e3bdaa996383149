#include "messages.h"

#include <algorithm>
#include <cstring>

std::string nativeText(const std::u16string& engineText) {
    std::string text = utf16ToUtf8(engineText);
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

std::string relativeText(const std::u16string& relativePath) {
    std::string text = nativeText(relativePath);
    return text.empty() || text[0] != '/' ? text : text.substr(1);
}

std::string errorLine(const CTKErr& error) {
    std::string line = nativeText(error.message);
    // Messages that end in "file:" or ": " before an empty name read better without it.
    while (!line.empty() && (line.back() == ' ' || line.back() == ':'))
        line.pop_back();
    if (error.systemError != 0)
        line.append(": ").append(std::strerror(error.systemError));
    return line;
}
