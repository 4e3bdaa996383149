// File ids, the directory fingerprint, tkFingerprint and cancelling it.
#include "expecterr.h"
#include "snapshot/fingerprint.h"
#include "snapshot/sha1.h"
#include "snapshotsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace ostmere;
using namespace testing_support;

namespace {

using Strings = std::vector<std::string>;

const std::string kEmptyId = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
const std::string kAbcId = "a9993e364706816aba3e25717850c26c9cd0d89d";

// SHA-1 of a text fed as UTF-16 code units, low byte first: the fingerprint's input form.
std::string sha1OfUtf16(const std::u16string& text) {
    std::string bytes;
    for (char16_t u : text) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    CSha1 sha;
    sha.update(bytes.data(), bytes.size());
    uint8_t digest[20];
    sha.finish(digest);
    return utf16ToUtf8(digestToHex(digest));
}

std::string fingerprintOf(CDirSnapshot s) {
    RecordingSink sink;
    return utf16ToUtf8(calcFingerprint(s, &sink));
}

std::string fingerprintOf(const fs::path& dir, const std::u16string& filter = u"") {
    RecordingSink sink;
    return utf16ToUtf8(tkFingerprint(&sink, u16(dir), filter));
}

TEST(Fingerprint, KnownVectorsFromSnapshots) {
    CDirSnapshot onlyA =
        snapshotOf({}, {u"\\a"}, {{u"\\a", 32}}, {{u"\\a", utf8ToUtf16(kEmptyId)}});
    CDirSnapshot sub =
        snapshotOf({u"\\sub"}, {u"\\sub\\b.txt"}, {{u"\\sub", 16}, {u"\\sub\\b.txt", 32}},
                   {{u"\\sub\\b.txt", utf8ToUtf16(kEmptyId)}});
    EXPECT_EQ(fingerprintOf(CDirSnapshot()), kEmptyId);
    EXPECT_EQ(fingerprintOf(onlyA), "d7b1872c73b53e0ffd9cf39a6b5c19630b565ad5");
    EXPECT_EQ(fingerprintOf(sub), "c0e1ab50bf34243b54f5457f652b1b9a9066a73d");
    EXPECT_EQ(sha1OfUtf16(u"\\a32" + utf8ToUtf16(kEmptyId)),
              "d7b1872c73b53e0ffd9cf39a6b5c19630b565ad5");
}

TEST(Fingerprint, MissingEntriesSignedWordsAndTheStageCalls) {
    CDirSnapshot s = snapshotOf({u"\\d"}, {u"\\a", u"\\n"}, {{u"\\d", 0x80000010u}, {u"\\n", 0x21}},
                                {{u"\\n", u"id"}});
    RecordingSink sink;
    // \a has neither a word nor an id: "0" and nothing; the word is written signed.
    EXPECT_EQ(utf16ToUtf8(calcFingerprint(s, &sink)), sha1OfUtf16(u"\\d-2147483632\\a0\\n33id"));
    EXPECT_EQ(sink.calls, (Strings{"status:Calculating directory fingerprint...", "range:3",
                                   "reset", "step", "step", "step"}));
}

TEST(Fingerprint, ListsAreSortedInPlaceByCodeUnits) {
    // U+1F600 is stored as D83D DE00 and so sorts before U+FF5E; UTF-8 order would differ.
    std::vector<std::u16string> files = {u"\\\uff5e", u"\\b", u"\\\U0001F600", u"\\a",
                                         u"\\\u00e9", u"\\B", u"\\a\\b"};
    std::vector<std::u16string> directories = {u"\\z", u"\\Z", u"\\d"};
    auto make = [&] {
        CDirSnapshot s = snapshotOf(directories, files);
        for (const auto& f : files)
            s.setAttributes(f, 32), s.entry(f).id = CFileId::fromText(u"x");
        for (const auto& d : directories)
            s.setAttributes(d, 16);
        return s;
    };
    CDirSnapshot s = make();
    std::reverse(files.begin(), files.end());
    std::reverse(directories.begin(), directories.end());
    CDirSnapshot reversed = make();
    RecordingSink sink;
    const std::u16string fp = calcFingerprint(s, &sink);
    EXPECT_EQ(calcFingerprint(reversed, &sink), fp);
    EXPECT_EQ(listed(s.files),
              (std::vector<std::u16string>{u"\\B", u"\\a", u"\\a\\b", u"\\b", u"\\\u00e9",
                                           u"\\\U0001F600", u"\\\uff5e"}));
    EXPECT_EQ(listed(s.directories), (std::vector<std::u16string>{u"\\Z", u"\\d", u"\\z"}));
    std::u16string input = u"\\Z16\\d16\\z16";
    for (const auto& f : s.files)
        input += f + u"32x";
    EXPECT_EQ(utf16ToUtf8(fp), sha1OfUtf16(input));
}

TEST(FileIds, ContentsHashedThroughAnyBufferSize) {
    TempDir tmp;
    std::string big(10000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 37 + 11);
    makeTree(tmp.path(), {{"empty", ""}, {"abc", "abc"}, {"sub/big", big}});
    for (uint32_t bufferSize : {1u, 7u, 4096u, 2u * 1024 * 1024}) {
        SCOPED_TRACE(bufferSize);
        CDirSnapshot s = snapshotOf({}, {u"\\empty", u"\\abc", u"\\sub\\big"});
        RecordingSink sink(bufferSize);
        calcFileIds(&sink, tmp.u16(), s);
        EXPECT_EQ(utf16ToUtf8(s.fileIdOf(u"\\empty")), kEmptyId);
        EXPECT_EQ(utf16ToUtf8(s.fileIdOf(u"\\abc")), kAbcId);
        EXPECT_EQ(utf16ToUtf8(s.fileIdOf(u"\\sub\\big")), sha1Of(big));
        EXPECT_EQ(sink.calls,
                  (Strings{"status:Calculating file ids...", "range:3", "reset",
                           "detail:Processing: \\empty", "step", "detail:Processing: \\abc", "step",
                           "detail:Processing: \\sub\\big", "step"}));
    }
}

TEST(FileIds, AFileThatCannotBeReadEndsTheRun) {
    TempDir tmp;
    makeTree(tmp.path(), {{"d/", ""}});
    RecordingSink sink;
    CDirSnapshot gone = snapshotOf({}, {u"\\gone"});
    CTKErr e = expectTKErr([&] { calcFileIds(&sink, tmp.u16(), gone); });
    EXPECT_EQ(e.message, u"Unable to open file:" + tmp.u16() + u"\\gone");
    EXPECT_STREQ(e.file, "fileReader.cpp");

    // A directory opens as a stream on this platform but yields no bytes of its size.
    struct stat st;
    ASSERT_EQ(stat((tmp / "d").c_str(), &st), 0);
    if (st.st_size == 0)
        GTEST_SKIP() << "directories report no size on this file system";
    CDirSnapshot unreadable = snapshotOf({}, {u"\\d"});
    e = expectTKErr([&] { calcFileIds(&sink, tmp.u16(), unreadable); });
    EXPECT_EQ(e.message, u"Unable read a source file:" + tmp.u16() + u"\\d");
    EXPECT_STREQ(e.file, "fileio.cpp");
}

TEST(TkFingerprint, KnownTreesAndEveryFormOfTheDirectoryArgument) {
    TempDir tmp;
    makeTree(tmp.path(), {{"empty/", ""}, {"onlyA/a", ""}, {"onlySub/sub/b.txt", ""}});
    struct Case {
        const char* dir;
        const char* fingerprint;
    };
    const Case cases[] = {{"empty", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
                          {"onlyA", "d7b1872c73b53e0ffd9cf39a6b5c19630b565ad5"},
                          {"onlySub", "c0e1ab50bf34243b54f5457f652b1b9a9066a73d"}};
    for (const auto& c : cases) {
        const std::u16string dir = u16(tmp / c.dir);
        for (const std::u16string& form :
             {dir, dir + u"/", dir + u"//", dir + u"\\", backslashed(dir), u"/" + dir}) {
            RecordingSink sink;
            EXPECT_EQ(utf16ToUtf8(tkFingerprint(&sink, form, u"")), c.fingerprint)
                << utf16ToUtf8(form);
        }
    }
    RecordingSink sink;
    tkFingerprint(&sink, u16(tmp / "onlySub"), u"");
    EXPECT_EQ(sink.statuses(),
              (Strings{"Counting all files", "Collecting files...", "Getting File attributes...",
                       "Calculating file ids...", "Calculating directory fingerprint...",
                       "Fingerprint calculated."}));
}

TEST(TkFingerprint, WhatChangesTheFingerprintAndWhatDoesNot) {
    const std::vector<TreeEntry> base = {{"a.txt", "alpha"}, {"sub/b.txt", "beta"}, {"e/", ""}};
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> change;
        std::u16string filter;
        bool changes;
    };
    const Case cases[] = {
        {"nothing", [](const fs::path&) {}, u"", false},
        {"rename", [](const fs::path& r) { fs::rename(r / "a.txt", r / "a2.txt"); }, u"", true},
        {"case of a name", [](const fs::path& r) { fs::rename(r / "a.txt", r / "A.txt"); }, u"",
         true},
        {"content", [](const fs::path& r) { writeFile(r / "sub/b.txt", "betA"); }, u"", true},
        {"read-only bit", [](const fs::path& r) { makeReadOnly(r / "sub/b.txt"); }, u"", true},
        {"read-only directory", [](const fs::path& r) { makeReadOnly(r / "e"); }, u"", true},
        {"new empty directory", [](const fs::path& r) { fs::create_directory(r / "f"); }, u"",
         true},
        {"modification time",
         [](const fs::path& r) {
             fs::last_write_time(r / "a.txt",
                                 fs::last_write_time(r / "a.txt") - std::chrono::hours(30));
         },
         u"", false},
        {"execute bit",
         [](const fs::path& r) {
             fs::permissions(r / "a.txt", fs::perms::owner_exec, fs::perm_options::add);
         },
         u"", false},
        {"ignored file added", [](const fs::path& r) { writeFile(r / "sub/x.obj", "o"); }, u"*.obj",
         false},
        {"ignored directory added", [](const fs::path& r) { writeFile(r / "Debug/y", "o"); },
         u"\\Debug", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir left, right;
        makeTree(left.path(), base);
        // The same tree made in another order, somewhere else.
        makeTree(right.path(), std::vector<TreeEntry>(base.rbegin(), base.rend()));
        c.change(right.path());
        EXPECT_EQ(fingerprintOf(left.path(), c.filter) != fingerprintOf(right.path(), c.filter),
                  c.changes);
    }
}

// Special files have no content to carry: they are skipped, with their kind as the reason,
// and never opened (a named pipe would wait for a writer).
TEST(TkFingerprint, SpecialFilesAreSkippedWithTheirReason) {
    TempDir tmp;
    writeFile(tmp / "a", "");
    ASSERT_EQ(mkfifo((tmp / "pipe").c_str(), 0644), 0);
    const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (tmp / "sock").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(listening);
    alarm(60); // a blocking open would otherwise hang the whole test program
    struct NoticeSink : RecordingSink, CNoticeSink {
        void notice(const std::u16string& line) override { notices.push_back(utf16ToUtf8(line)); }
        Strings notices;
    } sink;
    CDirSnapshot s = scanDirectory(&sink, tmp.u16(), u"");
    alarm(0);
    EXPECT_EQ(narrowed(s.files), Strings{"\\a"});
    EXPECT_EQ(narrowed(s.ignoredItems), (Strings{"\\pipe", "\\sock"}));
    EXPECT_EQ(s.skipReasons, (TextMap{{u"\\pipe", u"named pipe"}, {u"\\sock", u"socket"}}));
    EXPECT_EQ(s.find(u"\\pipe"), nullptr);
    EXPECT_EQ(sink.notices, Strings{"Skipped 2 items that cannot be carried: \\pipe (named pipe), "
                                    "\\sock (socket)"});
}

size_t openDescriptors() {
    return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

// Cancelling at the first call of each kind, and at every later one, ends the operation at
// that call: nothing more reaches the sink and the cancel arrives unchanged.
TEST(Cancel, AtEveryStatusDetailAndStepCall) {
    TempDir tmp;
    makeTree(tmp.path(), {{"a.txt", "a"}, {"sub/b.txt", "b"}, {"sub/deep/c", "c"}});
    RecordingSink full;
    tkFingerprint(&full, tmp.u16(), u"");
    const size_t descriptors = openDescriptors();
    for (const std::string kind : {"status", "detail", "step"}) {
        const std::string prefix = kind == "step" ? "step" : kind + ":";
        std::vector<size_t> positions;
        for (size_t i = 0; i < full.calls.size(); ++i)
            if (full.calls[i].rfind(prefix, 0) == 0)
                positions.push_back(i);
        ASSERT_GE(positions.size(), 3u) << kind;
        for (size_t n = 1; n <= positions.size(); ++n) {
            SCOPED_TRACE(kind + " #" + std::to_string(n));
            RecordingSink sink;
            sink.cancelAt(kind, static_cast<int>(n));
            EXPECT_THROW(tkFingerprint(&sink, tmp.u16(), u""), COPCancel);
            const Strings expected(full.calls.begin(), full.calls.begin() + positions[n - 1] + 1);
            EXPECT_EQ(sink.calls, expected);
        }
    }
    EXPECT_EQ(openDescriptors(), descriptors) << "a cancel must not leave files open";
}

} // namespace
