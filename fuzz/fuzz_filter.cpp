// Hostile ignore filters and paths. The input is UTF-8 text: the first line is the filter, each
// further line a relative path. Every answer of the compiled filter is compared with a plain
// reading of the matching rules kept here, pattern by pattern.
#include "snapshot/dirscan.h"

#include <cstdio>
#include <cstdlib>

using namespace ostmere;

namespace {

constexpr size_t kMaxPaths = 64;

std::vector<std::u16string> splitLines(const std::u16string& text) {
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start <= text.size() && lines.size() <= kMaxPaths) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The patterns of a filter text: pieces between ";", a trailing ";" adding nothing.
std::vector<std::u16string> patternsOf(const std::u16string& filter) {
    std::vector<std::u16string> patterns;
    size_t start = 0;
    while (start < filter.size()) {
        size_t end = filter.find(u';', start);
        if (end == std::u16string::npos)
            end = filter.size();
        patterns.push_back(filter.substr(start, end - start));
        start = end + 1;
    }
    return patterns;
}

// Each literal run of the pattern must be found, in turn, in what is left of the path: a run
// followed by a star needs text after it, a run after a star needs text before it, and a
// pattern without a star must equal the path.
bool referenceMatch(const std::u16string& pattern, const std::u16string& path) {
    const bool starred = pattern.find(u'*') != std::u16string::npos;
    std::vector<std::pair<std::u16string, bool>> runs; // literal, a star follows it
    std::u16string literal;
    for (char16_t c : pattern) {
        if (c == u'*') {
            if (!literal.empty())
                runs.push_back({literal, true});
            literal.clear();
        } else {
            literal += c;
        }
    }
    if (!literal.empty())
        runs.push_back({literal, false});
    if (runs.empty())
        return false;
    if (!starred)
        return pattern == path;
    std::u16string rest = path;
    for (const auto& [text, starAfter] : runs) {
        size_t at = rest.find(text);
        if (at == std::u16string::npos)
            return false;
        std::u16string after = rest.substr(at + text.size());
        if (starAfter ? after.empty() : at == 0)
            return false;
        rest = after;
    }
    return true;
}

void fail(const char* what, const std::u16string& filter, const std::u16string& path) {
    std::fprintf(stderr, "%s\nfilter: %s\npath: %s\n", what, utf16ToUtf8(filter).c_str(),
                 utf16ToUtf8(path).c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::u16string text = utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size));
    const std::vector<std::u16string> lines = splitLines(text);
    const std::u16string& filterText = lines[0];
    const CIgnoreFilter filter = compileFilter(filterText);
    const std::vector<std::u16string> patterns = patternsOf(filterText);
    std::vector<CIgnoreFilter> singles;
    for (const auto& pattern : patterns)
        singles.push_back(compileFilter(pattern));
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::u16string& path = lines[i];
        bool expected = false;
        for (size_t k = 0; k < patterns.size(); ++k) {
            const bool single = referenceMatch(patterns[k], path);
            if (singles[k].matches(path) != single)
                fail(single ? "pattern should match" : "pattern should not match", patterns[k],
                     path);
            expected = expected || single;
        }
        if (filter.matches(path) != expected)
            fail(expected ? "filter should match" : "filter should not match", filterText, path);
    }
    return 0;
}
