// Buffering of CFileReader: typed records go through a read-ahead window, file contents
// bypass it, and seeks may land inside or outside the window. Whatever the mix, every read
// must return the bytes at the file position and tell() must report that position.
#include "core/fileReader.h"
#include "patch/patchformat.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace ostmere;
using namespace testing_support;

namespace {

// Sizes around the direct-read threshold, the read-ahead window and the work buffers.
const std::vector<size_t> kSizes = {0,     1,     100,   4095,  4096,  4097,
                                    30000, 65535, 65536, 70000, 300007};

struct Records {
    TempDir dir;
    std::u16string patch;
    FileTable table;

    explicit Records(uint32_t bufferSize) {
        RecordingSink sink(bufferSize);
        std::vector<TreeEntry> entries;
        for (size_t i = 0; i < kSizes.size(); ++i)
            entries.push_back({"src/f" + std::to_string(i), randomBytes(kSizes[i], i)});
        makeTree(dir.path(), entries);
        patch = u16(dir / "records.bin");
        COutputFile out(patch);
        out.writeString(u"header");
        for (size_t i = 0; i < kSizes.size(); ++i) {
            std::u16string rel = u"\\f" + utf8ToUtf16(std::to_string(i));
            table[rel] = out.writeFileRecord(&sink, u16(dir / "src"), rel);
        }
        out.writeFileTable(table);
        flushPatch(out);
    }

    std::string expected(const std::u16string& rel) const {
        return readFile(dir / "src" / utf16ToUtf8(rel.substr(1)));
    }
};

// Reads the record at position the way the apply run does, checking every step.
void expectRecord(CFileReader& in, uint64_t position, const std::u16string& rel,
                  const std::string& expected, std::vector<uint8_t>& buffer) {
    in.seek(position);
    ASSERT_EQ(in.tell(), position);
    in.readType(TYPE_FILE);
    ASSERT_EQ(in.readString(), rel);
    ASSERT_EQ(in.readQword(), expected.size());
    std::string got;
    while (got.size() < expected.size()) {
        size_t n = std::min(buffer.size(), expected.size() - got.size());
        ASSERT_EQ(in.read(buffer.data(), n), n);
        got.append(reinterpret_cast<char*>(buffer.data()), n);
    }
    ASSERT_EQ(got, expected) << utf16ToUtf8(rel);
    // Back into the content just read: its tail must come again, wherever it was buffered.
    const size_t tail = std::min<size_t>(expected.size(), 100);
    const uint64_t end = in.tell();
    in.seek(end - tail);
    std::string again(tail, '\0');
    ASSERT_EQ(in.read(again.data(), tail), tail);
    ASSERT_EQ(again, expected.substr(expected.size() - tail)) << utf16ToUtf8(rel);
    ASSERT_EQ(in.tell(), end);
}

} // namespace

TEST(FileReaderBuffering, RecordsReadInAnyOrderAndChunkSize) {
    for (uint32_t bufferSize : {4096u, 256u * 1024}) {
        Records records(bufferSize);
        std::vector<std::pair<std::u16string, uint64_t>> order(records.table.begin(),
                                                               records.table.end());
        std::sort(order.begin(), order.end(),
                  [](const auto& a, const auto& b) { return a.second < b.second; });
        std::vector<std::vector<std::pair<std::u16string, uint64_t>>> orders = {order};
        orders.emplace_back(order.rbegin(), order.rend());
        std::mt19937 random(7);
        auto shuffled = order;
        std::shuffle(shuffled.begin(), shuffled.end(), random);
        orders.push_back(shuffled);
        for (uint32_t chunk : {1000u, 4096u, bufferSize}) {
            std::vector<uint8_t> buffer(chunk);
            for (const auto& visit : orders) {
                CInputFile in(records.patch);
                for (const auto& [rel, position] : visit)
                    expectRecord(in, position, rel, records.expected(rel), buffer);
                // Back to the start and on to the table: the window must not be reused wrongly.
                in.seek(0);
                EXPECT_EQ(in.readString(), u"header");
                uint64_t last = std::max_element(order.begin(), order.end(), [](auto& a, auto& b) {
                                    return a.second < b.second;
                                })->second;
                in.seek(last);
                in.readType(TYPE_FILE);
                in.readString();
                in.seek(in.tell() + 9 + kSizes.back());
                EXPECT_EQ(in.readFileTable(), records.table);
                EXPECT_TRUE(in.eof());
            }
        }
    }
}
