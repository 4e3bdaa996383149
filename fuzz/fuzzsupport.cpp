#include "fuzzsupport.h"

#include "patch/patchformat.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace fuzzing {

ScratchDir::ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "ostmere-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    removeTree(path_);
}

fs::path ScratchDir::freshDirectory(const std::string& name) const {
    fs::path dir = path_ / name;
    removeTree(dir);
    fs::create_directories(dir);
    return dir;
}

std::u16string u16(const fs::path& path) {
    return utf8ToUtf16(path.string());
}

void writeInput(const fs::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::abort();
    }
}

void removeTree(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec)))
        return;
    // A patch may have cleared write bits; give them back so that removal can go below.
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::end(it);
         it.increment(ec))
        if (!it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
    if (ec) {
        std::fprintf(stderr, "cannot clear %s: %s\n", path.c_str(), ec.message().c_str());
        std::abort();
    }
}

bool staysInside(const std::u16string& relPath) {
    if (relPath.empty() || relPath[0] != u'\\')
        return false;
    std::u16string component;
    for (size_t i = 1; i <= relPath.size(); ++i) {
        if (i == relPath.size() || relPath[i] == u'\\' || relPath[i] == u'/') {
            if (component.empty() || component == u"." || component == u"..")
                return false;
            component.clear();
        } else {
            component += relPath[i];
        }
    }
    return true;
}

void requireEngineRefuses(const std::u16string& relPath) {
    if (!ostmere::isSafeRelativePath(relPath))
        return;
    std::fprintf(stderr, "the engine accepts a path that leaves its directory: %s\n",
                 utf16ToUtf8(relPath).c_str());
    std::abort();
}

} // namespace fuzzing
