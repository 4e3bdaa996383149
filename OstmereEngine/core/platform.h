// The small stand-in for the Windows file API: attribute words, directory listings,
// item creation and removal, and the machine's identity, over POSIX calls.
#pragma once

#include "core/itemmeta.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

struct __dirstream;

namespace ostmere {

constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
// A symbolic link: carried as a link (its content is its target text), never followed.
constexpr uint32_t FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

// Engine path ("\" separated, UTF-16) to the file system's form ("/" separated, UTF-8).
std::string nativePath(const std::u16string& path);

// 0x10 for a directory (links followed), 0x20 for anything else, plus 0x01 when the owner
// may not write; INVALID_FILE_ATTRIBUTES when the path cannot be examined.
uint32_t getFileAttributes(const std::u16string& path);
inline bool isLinkWord(uint32_t word) {
    return word != INVALID_FILE_ATTRIBUTES && (word & FILE_ATTRIBUTE_REPARSE_POINT);
}
// 0x01 clears every write bit; without it only the owner write bit is added.
bool setFileAttributes(const std::u16string& path, uint32_t attributes);
// The attribute word of the entry `name` of an open directory itself (a link is described as a
// link: 0x420), with its permission bits and modification time from the same stat.
uint32_t getEntryStatus(int directory, const char* name, CItemMeta& meta);
bool createDirectory(const std::u16string& path);
bool removeDirectory(const std::u16string& path);
bool deleteFile(const std::u16string& path);
// True when the path itself is a symbolic link.
bool isSymbolicLink(const std::u16string& path);

// Identity of a directory, to stop a walk from entering a directory it is already inside.
struct DirIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const DirIdentity&) const = default;
};

// What a tree walk does with an entry: enters it, reads it as a file, carries it as a link,
// or skips it (named pipes, sockets and device nodes have no content to ship).
enum class EntryKind { directory, file, link, fifo, socket, device };

// Why an entry of that kind is skipped, as lists and notices show it; empty for the others.
const char16_t* skipReason(EntryKind kind);

// One open directory listing; entries come in the file system's order without "." and "..".
class CDirListing {
  public:
    explicit CDirListing(const std::u16string& path);
    // Lists an open directory; the caller keeps its descriptor.
    explicit CDirListing(int directory);
    ~CDirListing();
    CDirListing(const CDirListing&) = delete;
    CDirListing& operator=(const CDirListing&) = delete;

    bool isOpen() const { return dir_ != nullptr; }
    bool identity(DirIdentity& id) const;
    // Next entry: its raw file-system name and its kind, never following a link.
    bool next(std::string& name, EntryKind& kind);
    // True when reading the listing failed before its end.
    bool failed() const { return failed_; }

  private:
    __dirstream* dir_;
    bool failed_ = false;
};

bool computerName(std::u16string& name);
bool userName(std::u16string& name);

} // namespace ostmere
