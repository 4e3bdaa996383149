// File access: descriptor-level files with the patch format's typed records, and a stream reader.
#pragma once

#include "OstmereEngine.h"
#include "core/pathmap.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace ostmere {

using FileTable = std::map<std::u16string, uint64_t>;

// A descriptor-level file. Small typed records are combined in a private 64 KiB buffer so
// that a patch's information block does not cost several system calls per value; bulk
// transfers of file contents bypass it and go straight between the work buffer and the file.
class CFileReader {
  public:
    CFileReader() = default;
    virtual ~CFileReader();
    CFileReader(const CFileReader&) = delete;
    CFileReader& operator=(const CFileReader&) = delete;

    virtual void open(const std::u16string& path) = 0;

    bool isOpen() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }
    bool eof();
    uint64_t tell();
    void seek(uint64_t position);
    int64_t size(); // -1 when it cannot be determined
    size_t read(void* buffer, size_t n);
    size_t write(const void* buffer, size_t n);
    // Announces that the file will be read through. Worth its system call only for files read in
    // more than one chunk, so readers call it once they know the size.
    void adviseSequential();
    // Writes out combined records; false when the file did not take them all.
    bool flush();
    // observe sees every byte given to write from now on, in order, until it is cleared.
    void observeWrites(std::function<void(const uint8_t*, size_t)> observe) {
        writeObserver_ = std::move(observe);
    }

    // Typed records of the patch format.
    void readType(uint8_t tag);
    uint32_t readDword();
    uint64_t readQword();
    void readBuffer(void* buffer, size_t n);
    std::u16string readString();
    void readStringList(std::deque<std::u16string>& list);
    std::map<std::u16string, std::u16string> readInfoMap();
    AttributeMap readAttributeMap();
    FileTable readFileTable();
    void checkMagic(const char* text, size_t n);
    // Accepts the base and the compact magic; compact, when given, tells which it was.
    uint64_t readHeader(bool* compact = nullptr);

    void writeType(uint8_t tag);
    void writeDword(uint32_t value);
    void writeQword(uint64_t value);
    void writeBuffer(const void* data, size_t n);
    void writeString(const std::u16string& text);
    void writeStringList(const std::deque<std::u16string>& list);
    void writeInfoMap(const std::map<std::u16string, std::u16string>& map);
    void writeAttributeMap(const AttributeMap& map);
    void writeFileTable(const FileTable& table);
    // observe sees every content byte as it goes into the record, in order.
    using ContentObserver = std::function<void(const uint8_t*, size_t)>;
    uint64_t writeFileRecord(CProgressSink* sink, const std::u16string& root,
                             const std::u16string& relativePath,
                             const ContentObserver& observe = {});
    bool extractFile(bool tolerateShort, CProgressSink* sink, uint64_t position,
                     const std::u16string& destinationDir);

  protected:
    int fd_ = -1;

  private:
    static constexpr size_t kStageSize = 64 * 1024;
    // Reads at least this large skip the stage: file contents, not records.
    static constexpr size_t kDirectRead = 4 * 1024;
    uint8_t* stage();
    void dropReadAhead();
    void writeOut();
    // Bytes of the file not yet read; a length read from a patch is checked against it
    // before anything of that size is allocated.
    uint64_t remaining();
    size_t bufferedBytes() const { return readEnd_ - readPos_; }

    std::unique_ptr<uint8_t[]> stage_;
    size_t readPos_ = 0, readEnd_ = 0; // read-ahead window inside stage_
    size_t pending_ = 0;               // bytes written into stage_, not yet in the file
    bool writeFailed_ = false;
    std::function<void(const uint8_t*, size_t)> writeObserver_;
};

class CInputFile : public CFileReader {
  public:
    CInputFile() = default;
    explicit CInputFile(const std::u16string& path) { open(path); }
    void open(const std::u16string& path) override;
};

// Created when absent; an existing file is not truncated.
class COutputFile : public CFileReader {
  public:
    COutputFile() = default;
    explicit COutputFile(const std::u16string& path) { open(path); }
    ~COutputFile() override;
    void open(const std::u16string& path) override;
    // Takes over a descriptor already open for writing.
    void adopt(int fd);
};

} // namespace ostmere
