// What the scan reads of a file besides its name: its contents.
#pragma once

#include "OstmereEngine.h"
#include "core/descriptor.h"
#include "core/itemcontent.h"
#include "snapshot/sha1.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ostmere {

// Where the files of a tree are read from: the directory of the last file stays open, and the
// next file in it (most are, in list order) is opened by its name alone instead of its path.
class CFileOpener {
  public:
    // Raises "Unable read a source file:" and the path for an item without content.
    void open(const std::u16string& fullPath, CItemContent& content);

  private:
    std::string directory_;
    CDescriptor open_;
};

// Feeds the whole content of a file (a link's target text) into sha, through the sink's work
// buffer; through opener when given, else by the whole path.
void hashFile(CProgressSink* sink, const std::u16string& fullPath, CSha1& sha,
              CFileOpener* opener = nullptr);
// The same through a given part of that buffer; returns the number of bytes hashed. When
// abandon becomes true the file is left half read, without error: its digest is then of no use.
uint64_t hashFile(uint8_t* buffer, size_t chunk, const std::u16string& fullPath, CSha1& sha,
                  const std::atomic<bool>* abandon = nullptr, CByteProgressSink* bytes = nullptr,
                  CFileOpener* opener = nullptr);

} // namespace ostmere
