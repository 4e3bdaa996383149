// Typed records of the patch format, file records, and reading a patch's information.
#include "core/byteprogress.h"
#include "core/fileReader.h"
#include "core/fileio.h"
#include "core/itemcontent.h"
#include "core/tkerr.h"
#include "patch/compactformat.h"
#include "patch/patchformat.h"
#include "patch/trailer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

TK_MODULE("patchReader");

namespace ostmere {

namespace {

void storeLittleEndian(uint8_t* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t loadLittleEndian(const uint8_t* in, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | in[i];
    return value;
}

// A code unit read as stored, low byte first.
char16_t littleEndian(char16_t unit) {
    if constexpr (std::endian::native == std::endian::little)
        return unit;
    return static_cast<char16_t>((unit >> 8) | (unit << 8));
}

// The first table key (in key order) that neither NewFiles nor ChangedFiles holds, or null.
// Both sides are walked in ordinal order, so the check costs a sort, not a search per key.
const std::u16string* firstKeyNotListed(const FileTable& table, const CPatchInfo& info) {
    std::vector<const std::u16string*> listed;
    listed.reserve(info.NewFiles.size() + info.ChangedFiles.size());
    for (const PathList* list : {&info.NewFiles, &info.ChangedFiles})
        for (const auto& path : *list)
            listed.push_back(&path);
    std::sort(listed.begin(), listed.end(),
              [](const std::u16string* a, const std::u16string* b) { return *a < *b; });
    auto next = listed.begin();
    for (const auto& entry : table) {
        while (next != listed.end() && **next < entry.first)
            ++next;
        if (next == listed.end() || **next != entry.first)
            return &entry.first;
    }
    return nullptr;
}

} // namespace

void CFileReader::readType(uint8_t tag) {
    uint8_t byte;
    if (read(&byte, 1) != 1)
        TK_RAISE(u"Unable to read a type.");
    if (byte != tag)
        TK_RAISE(u"Type mismatch.");
}

uint32_t CFileReader::readDword() {
    readType(TYPE_DWORD);
    uint8_t bytes[4];
    if (read(bytes, 4) != 4)
        TK_RAISE(u"Unable to read dword from a patch.");
    return static_cast<uint32_t>(loadLittleEndian(bytes, 4));
}

uint64_t CFileReader::readQword() {
    readType(TYPE_QWORD);
    uint8_t bytes[8];
    if (read(bytes, 8) != 8)
        TK_RAISE(u"Unable to write DWORD into a patch file.");
    return loadLittleEndian(bytes, 8);
}

void CFileReader::readBuffer(void* buffer, size_t n) {
    if (read(buffer, n) != n)
        TK_RAISE(u"Unable to read a buffer from a patch.");
}

std::u16string CFileReader::readString() {
    readType(TYPE_STRING);
    const uint64_t n = readDword();
    // A length beyond the end of the file is refused before anything of that size exists;
    // bytes already read ahead need no check, which spares two system calls per string.
    if (2 * n > bufferedBytes() && 2 * n > remaining())
        TK_RAISE(u"Unable to read a buffer from a patch.");
    // Read straight into the string: no second copy of a long text exists at any time.
    std::u16string text(n, u'\0');
    readBuffer(text.data(), 2 * n);
    for (char16_t& unit : text)
        unit = littleEndian(unit);
    if (size_t end = text.find(u'\0'); end != std::u16string::npos)
        text.resize(end);
    return text;
}

void CFileReader::readStringList(std::deque<std::u16string>& list) {
    readType(TYPE_STRING_LIST);
    for (uint32_t count = readDword(); count; --count)
        list.push_back(readString());
}

std::map<std::u16string, std::u16string> CFileReader::readInfoMap() {
    readType(TYPE_INFO_MAP);
    std::map<std::u16string, std::u16string> map;
    for (uint32_t count = readDword(); count; --count) {
        std::u16string key = readString();
        map.insert_or_assign(map.end(), std::move(key), readString());
    }
    return map;
}

AttributeMap CFileReader::readAttributeMap() {
    readType(TYPE_ATTRIBUTE_MAP);
    // Not reserved by the count: a damaged count must not become an allocation.
    AttributeMap::Items items;
    for (uint32_t count = readDword(); count; --count) {
        std::u16string key = readString();
        items.emplace_back(std::move(key), readDword());
    }
    return AttributeMap::fromUnordered(std::move(items), true);
}

FileTable CFileReader::readFileTable() {
    readType(TYPE_FILE_TABLE);
    FileTable table;
    for (uint32_t count = readDword(); count; --count) {
        std::u16string key = readString();
        table.insert_or_assign(table.end(), std::move(key), readQword());
    }
    return table;
}

void CFileReader::checkMagic(const char* text, size_t n) {
    std::vector<char> bytes(n);
    readBuffer(bytes.data(), n);
    if (std::memcmp(bytes.data(), text, n) != 0)
        TK_RAISE(u"Unable to open a patch file, missing magic number.");
}

uint64_t CFileReader::readHeader(bool* compact) {
    char magic[kPatchMagicSize];
    readBuffer(magic, kPatchMagicSize);
    const bool isCompact = std::memcmp(magic, kCompactMagic, kPatchMagicSize) == 0;
    if (!isCompact && std::memcmp(magic, kPatchMagic, kPatchMagicSize) != 0)
        TK_RAISE(u"Unable to open a patch file, missing magic number.");
    if (compact)
        *compact = isCompact;
    uint64_t tablePosition = readQword();
    if (readDword() != 1)
        TK_RAISE(u"This patch file has not been properly written.");
    return tablePosition;
}

void CFileReader::writeType(uint8_t tag) {
    if (write(&tag, 1) != 1)
        TK_RAISE(u"Unable write a type to a patch.");
}

void CFileReader::writeDword(uint32_t value) {
    writeType(TYPE_DWORD);
    uint8_t bytes[4];
    storeLittleEndian(bytes, value, 4);
    if (write(bytes, 4) != 4)
        TK_RAISE(u"Unable write DWORD to a patch.");
}

void CFileReader::writeQword(uint64_t value) {
    writeType(TYPE_QWORD);
    uint8_t bytes[8];
    storeLittleEndian(bytes, value, 8);
    if (write(bytes, 8) != 8)
        TK_RAISE(u"Unable write DWORD a patch.");
}

void CFileReader::writeBuffer(const void* data, size_t n) {
    size_t written = write(data, n);
    if (written != n)
        TK_RAISE(u"Unable write buffer to a patch. exp:" + decimal(static_cast<int64_t>(n)) +
                 u" actual:" + decimal(static_cast<int64_t>(written)));
}

void CFileReader::writeString(const std::u16string& text) {
    writeType(TYPE_STRING);
    size_t n = text.find(u'\0');
    if (n == std::u16string::npos)
        n = text.size();
    writeDword(static_cast<uint32_t>(n));
    std::vector<uint8_t> bytes(2 * n);
    for (size_t i = 0; i < n; ++i)
        storeLittleEndian(&bytes[2 * i], text[i], 2);
    writeBuffer(bytes.data(), bytes.size());
}

void CFileReader::writeStringList(const std::deque<std::u16string>& list) {
    writeType(TYPE_STRING_LIST);
    writeDword(static_cast<uint32_t>(list.size()));
    for (const auto& s : list)
        writeString(s);
}

void CFileReader::writeInfoMap(const std::map<std::u16string, std::u16string>& map) {
    writeType(TYPE_INFO_MAP);
    writeDword(static_cast<uint32_t>(map.size()));
    for (const auto& [key, value] : map) {
        writeString(key);
        writeString(value);
    }
}

void CFileReader::writeAttributeMap(const AttributeMap& map) {
    writeType(TYPE_ATTRIBUTE_MAP);
    writeDword(static_cast<uint32_t>(map.size()));
    for (const auto& [key, value] : map) {
        writeString(key);
        writeDword(value);
    }
}

void CFileReader::writeFileTable(const FileTable& table) {
    writeType(TYPE_FILE_TABLE);
    writeDword(static_cast<uint32_t>(table.size()));
    for (const auto& [key, position] : table) {
        writeString(key);
        writeQword(position);
    }
}

uint64_t CFileReader::writeFileRecord(CProgressSink* sink, const std::u16string& root,
                                      const std::u16string& relativePath,
                                      const ContentObserver& observe) {
    const uint64_t start = tell();
    writeType(TYPE_FILE);
    CItemContent source;
    if (!source.open(root + relativePath, u"Unable to ioen file:"))
        TK_RAISE(u"Unable read a source file:" + root + relativePath);
    const uint64_t size = source.size();
    writeString(relativePath);
    writeQword(size);
    uint8_t* buffer = sink->getBuffer();
    const uint64_t capacity = sink->getBufferSize();
    if (size > capacity)
        source.adviseSequential();
    CByteProgressSink* bytes = byteSinkOf(sink);
    uint64_t copied = 0;
    while (copied < size) {
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(capacity, size - copied));
        size_t n = source.read(buffer, chunk);
        if (n == 0)
            break;
        writeBuffer(buffer, n);
        if (observe)
            observe(buffer, n);
        copied += n;
        reportBytes(bytes, n);
    }
    if (copied != size)
        TK_RAISE(u"Unable read a source file:" + root + relativePath);
    // A file that grew while it was copied is no longer the file that was stored.
    if (!source.sizeUnchanged())
        TK_RAISE(u"A file changed while the patch was being made: " + root + relativePath);
    return start;
}

bool CFileReader::extractFile(bool tolerateShort, CProgressSink* sink, uint64_t position,
                              const std::u16string& destinationDir) {
    seek(position);
    readType(TYPE_FILE);
    const std::u16string relativePath = readString();
    requireSafeRelativePath(relativePath);
    const std::u16string destination = destinationDir + u"\\" + relativePath;
    if (auto* tracer = dynamic_cast<CTraceSink*>(sink))
        tracer->trace(u"Would write" + destination);
    requireNoLinkOnTheWay(destinationDir, relativePath);
    if (itemExists(destination))
        removeItem(false, destination);
    COutputFile out(destination);
    const uint64_t size = readQword();
    uint8_t* buffer = sink->getBuffer();
    const uint64_t capacity = sink->getBufferSize();
    if (size > capacity)
        adviseSequential();
    CByteProgressSink* bytes = byteSinkOf(sink);
    uint64_t copied = 0;
    while (copied < size) {
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(capacity, size - copied));
        size_t n = read(buffer, chunk);
        if (n == 0)
            break; // the patch ends here
        if (out.write(buffer, n) != n)
            TK_RAISE(u"Unable to write a dest file:" + destination);
        copied += n;
        reportBytes(bytes, n);
    }
    if (!out.flush())
        TK_RAISE(u"Unable to write a dest file:" + destination);
    if (copied != size && !tolerateShort)
        TK_RAISE(u"Unable to fully read a patch file content");
    return true;
}

void writePatchInfoBlock(CFileReader& out, const CPatchInfo& info) {
    out.writeString(info.NewerTreeID);
    out.writeString(info.OlderTreeID);
    out.writeInfoMap(info.infoEntries);
    out.writeString(info.filter);
    for (const PathList* list :
         {&info.ignoredNew, &info.ignoredOld, &info.UnlinkedDirectories, &info.UnlinkedFiles,
          &info.NewDirs, &info.ChangedFiles, &info.NewFiles})
        out.writeStringList(*list);
    out.writeAttributeMap(info.AttributeChanges);
}

void readPatchInfoBlock(CFileReader& in, CPatchInfo& info, CProgressSink* sink) {
    info.NewerTreeID = in.readString();
    info.OlderTreeID = in.readString();
    info.infoEntries = in.readInfoMap();
    info.filter = in.readString();
    for (PathList* list :
         {&info.ignoredNew, &info.ignoredOld, &info.UnlinkedDirectories, &info.UnlinkedFiles,
          &info.NewDirs, &info.ChangedFiles, &info.NewFiles}) {
        in.readStringList(*list);
        if (sink)
            sink->stepProgress();
    }
    info.AttributeChanges = in.readAttributeMap();
    if (sink)
        sink->stepProgress();
}

void flushPatch(CFileReader& out) {
    if (!out.flush())
        TK_RAISE(u"Unable write buffer to a patch. exp:" + decimal(0) + u" actual:" + decimal(0));
}

CPatchInfo loadPatchInfo(CProgressSink* sink, const std::u16string& patchFile) {
    if (patchFile.empty())
        TK_RAISE(u"No patch file specified: ");
    CInputFile in(patchFile);
    CPatchInfo info;
    const uint64_t tablePosition = in.readHeader(&info.compact);
    sink->setStatus(u"Loading patch info.");
    sink->setProgressRange(9);
    readPatchInfoBlock(in, info, sink);
    const uint64_t recordsStart = in.tell();
    in.seek(tablePosition);
    const FileTable table = in.readFileTable();
    readTrailingRecords(in, info);
    checkFileLayout(in, info, recordsStart, tablePosition, table);
    requireCompactDigest(in, sink, info);
    sink->stepProgress();
    return info;
}

bool isSafeRelativePath(const std::u16string& path) {
    if (path.empty() || path[0] != u'\\')
        return false;
    // "/" separates components on the file system as well, so a component holding it could
    // carry a ".." past the check below; no scanned name can contain it.
    if (path.find(u'/') != std::u16string::npos)
        return false;
    size_t start = 1;
    while (true) {
        size_t end = path.find(u'\\', start);
        std::u16string component =
            path.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
        if (component.empty() || component == u"." || component == u"..")
            return false;
        if (end == std::u16string::npos)
            return true;
        start = end + 1;
    }
}

void requireSafeRelativePath(const std::u16string& path) {
    if (!isSafeRelativePath(path))
        TK_RAISE(u"Refusing a patch path that leaves the target directory: " + path);
}

void requireSafePaths(const CPatchInfo& info) {
    // The ignored lists are never acted on, but a patch that holds anything other than a
    // relative path in them was not made by a scan and is not trusted either.
    for (const PathList* list :
         {&info.UnlinkedDirectories, &info.UnlinkedFiles, &info.NewDirs, &info.ChangedFiles,
          &info.NewFiles, &info.ignoredNew, &info.ignoredOld})
        for (const auto& path : *list)
            requireSafeRelativePath(path);
    for (const auto& entry : info.AttributeChanges)
        requireSafeRelativePath(entry.first);
}

uint64_t checkFileRecord(CFileReader& in, uint64_t& cursor, uint64_t position, uint64_t fileSize,
                         const std::u16string& expectedPath) {
    requireSafeRelativePath(expectedPath);
    // Records without content follow one another directly; the reader is then already there,
    // and asking the system for positions and sizes per record would cost more than the check.
    if (cursor != position)
        in.seek(position);
    in.readType(TYPE_FILE);
    // The stored path is compared unit for unit, so its length fixes where the head ends: tag,
    // string record (tag, DWORD, code units), QWORD record of the size.
    in.readType(TYPE_STRING);
    const uint64_t units = in.readDword();
    cursor = position + 1 + 6 + 2 * units + 9;
    if (units != expectedPath.size() || cursor > fileSize)
        TK_RAISE(u"The patch's file table does not match its file record: " + expectedPath);
    std::u16string path(units, u'\0');
    in.readBuffer(path.data(), 2 * units);
    for (size_t i = 0; i < units; ++i)
        if (littleEndian(path[i]) != expectedPath[i])
            TK_RAISE(u"The patch's file table does not match its file record: " + expectedPath);
    const uint64_t size = in.readQword();
    if (cursor > fileSize || size > fileSize - cursor)
        TK_RAISE(u"Unable to fully read a patch file content");
    return cursor + size;
}

uint64_t checkCompactRecord(CFileReader& in, CZstdCoder& coder, uint64_t position,
                            uint64_t fileSize, const std::u16string& expectedPath) {
    requireSafeRelativePath(expectedPath);
    in.seek(position);
    const CompactRecordInfo record =
        readCompactRecord(in, coder, {CompactCheck::layout, fileSize, {}, {}});
    if (record.path != expectedPath)
        TK_RAISE(u"The patch's file table does not match its file record: " + expectedPath);
    return record.end;
}

void checkFileLayout(CFileReader& in, const CPatchInfo& info, uint64_t recordsStart,
                     uint64_t tablePosition, const FileTable& table) {
    if (!in.eof())
        TK_RAISE(u"The patch holds data after its file table.");
    for (const PathList* list : {&info.NewFiles, &info.ChangedFiles})
        for (const auto& path : *list)
            if (!table.count(path))
                TK_RAISE(u"The patch's file table does not match its file lists: " + path);
    if (const std::u16string* extra = firstKeyNotListed(table, info))
        TK_RAISE(u"The patch's file table does not match its file lists: " + *extra);
    // The writer lays the records out back to back in table order, so each one must begin
    // where the one before it ended, and the last must end where the table begins.
    const int64_t fileSize = in.size();
    uint64_t expected = recordsStart;
    uint64_t cursor = ~uint64_t(0);
    std::unique_ptr<CZstdCoder> coder;
    if (info.compact)
        coder = std::make_unique<CZstdCoder>();
    for (const auto& [key, position] : table) {
        if (position != expected)
            TK_RAISE(u"The patch's file table does not match its file record: " + key);
        if (info.compact)
            expected = checkCompactRecord(in, *coder, position, fileSize < 0 ? 0 : fileSize, key);
        else
            expected = checkFileRecord(in, cursor, position, fileSize < 0 ? 0 : fileSize, key);
    }
    if (expected != tablePosition)
        TK_RAISE(u"The patch's file records do not end at its file table.");
}

} // namespace ostmere
