#include "core/byteprogress.h"

#include "core/platform.h"

#include <sys/stat.h>

namespace ostmere {

uint64_t itemBytes(const std::u16string& fullPath) {
    struct stat st {};
    if (::lstat(nativePath(fullPath).c_str(), &st) == 0 &&
        (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
        return static_cast<uint64_t>(st.st_size);
    return 0;
}

} // namespace ostmere
