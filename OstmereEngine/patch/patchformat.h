// Layout of a patch file: magic, header, information block, file records, file table.
#pragma once

#include "compare/patchinfo.h"
#include "core/fileReader.h"

namespace ostmere {

constexpr char kPatchMagic[] = "tkDiffPatch 01.01.02";
constexpr size_t kPatchMagicSize = 20;

enum PatchTag : uint8_t {
    TYPE_STRING = 0x10,
    TYPE_DWORD = 0x11,
    TYPE_STRING_LIST = 0x12,
    TYPE_FILE = 0x13,
    TYPE_QWORD = 0x14,
    TYPE_FILE_TABLE = 0x15,
    TYPE_ATTRIBUTE_MAP = 0x16,
    TYPE_INFO_MAP = 0x17,
};

// The information block from NewerTreeID to AttributeChanges; progress is stepped after each
// list and after the attribute map when a sink is given.
void writePatchInfoBlock(CFileReader& out, const CPatchInfo& info);
void readPatchInfoBlock(CFileReader& in, CPatchInfo& info, CProgressSink* sink);
// Makes sure everything written has reached the file.
void flushPatch(CFileReader& out);

CPatchInfo loadPatchInfo(CProgressSink* sink, const std::u16string& patchFile);

// A path from a patch must stay inside the target: it begins with "\", holds no "/" and has
// no empty, "." or ".." component.
bool isSafeRelativePath(const std::u16string& path);
void requireSafeRelativePath(const std::u16string& path);
void requireSafePaths(const CPatchInfo& info);
// Reads the head of the file record at position without its content: the record must name
// expectedPath and hold all its bytes within fileSize. cursor is where the reader stands (no
// seek when that is position) and is left just after the head. Returns the position just
// after the record.
uint64_t checkFileRecord(CFileReader& in, uint64_t& cursor, uint64_t position, uint64_t fileSize,
                         const std::u16string& expectedPath);
// The same for a compact file record: its structure and bounds, its coded bytes skipped.
class CZstdCoder;
uint64_t checkCompactRecord(CFileReader& in, CZstdCoder& coder, uint64_t position,
                            uint64_t fileSize, const std::u16string& expectedPath);
// The file table (just read, ending the file) must name exactly the new and changed files,
// and their records must fill the space from recordsStart to the table without gap or overlap.
void checkFileLayout(CFileReader& in, const CPatchInfo& info, uint64_t recordsStart,
                     uint64_t tablePosition, const FileTable& table);

} // namespace ostmere
