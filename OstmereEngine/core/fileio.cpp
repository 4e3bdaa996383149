#include "core/fileio.h"

#include "core/platform.h"
#include "core/tkerr.h"

TK_MODULE("fileio");

namespace ostmere {

bool removeItem(bool tolerant, const std::u16string& path) {
    uint32_t attributes = getFileAttributes(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        attributes &= ~FILE_ATTRIBUTE_READONLY;
    setFileAttributes(path, attributes); // result deliberately unchecked: the removal decides
    attributes = getFileAttributes(path);
    // A link is removed as itself, never by descending into what it points at.
    bool directory = attributes != INVALID_FILE_ATTRIBUTES &&
                     (attributes & FILE_ATTRIBUTE_DIRECTORY) && !isSymbolicLink(path);
    if (directory ? removeDirectory(path) : deleteFile(path))
        return true;
    if (tolerant)
        return false;
    TK_RAISE(u"Unable to remove item. " + path);
}

bool itemExists(const std::u16string& path) {
    return getFileAttributes(path) != INVALID_FILE_ATTRIBUTES || isSymbolicLink(path);
}

bool linkOnTheWay(const std::u16string& root, const std::u16string& relPath) {
    for (size_t at = relPath.find(u'\\', 1); at != std::u16string::npos;
         at = relPath.find(u'\\', at + 1))
        if (isSymbolicLink(root + relPath.substr(0, at)))
            return true;
    return false;
}

void requireNoLinkOnTheWay(const std::u16string& root, const std::u16string& relPath) {
    if (linkOnTheWay(root, relPath))
        TK_RAISE(u"Refusing to follow a symbolic link inside the target directory: " + root +
                 relPath);
}

} // namespace ostmere
