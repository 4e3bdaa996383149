#include "core/frame.h"

#include "core/names.h"
#include "core/platform.h"

namespace ostmere {

std::u16string normalizePath(const std::u16string& directory) {
    std::u16string result, run;
    auto keepRun = [&] {
        if (run.empty())
            return;
        if (!result.empty())
            result += u'\\';
        result += run;
        run.clear();
    };
    // A POSIX absolute path keeps one leading separator: it names the file-system root,
    // where a drive letter would on Windows.
    bool absolute = !directory.empty() && (directory[0] == u'\\' || directory[0] == u'/');
    // A stand-in typed in a path argument is a name's own character, not a "\".
    for (char16_t c : escapeStandIns(directory)) {
        if (c == u'\\' || c == u'/')
            keepRun();
        else
            run += c;
    }
    keepRun();
    return absolute ? u"\\" + result : result;
}

bool dirExists(const std::u16string& path) {
    uint32_t attributes = getFileAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace ostmere
