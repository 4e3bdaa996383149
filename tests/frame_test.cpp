// The checks every exported operation makes on its arguments before it starts working.
#include "core/frame.h"
#include "expecterr.h"
#include "testsupport.h"

#include <functional>
#include <gtest/gtest.h>

using namespace ostmere;
using namespace testing_support;

namespace {

struct Paths {
    std::u16string dir, older, file, missing, missing2, patch, out, vault, report;
};

struct FrameCase {
    const char* name;
    std::function<void(CProgressSink*, const Paths&)> call;
    std::function<std::u16string(const Paths&)> message;
    const char* module;
    // Status texts reported before the check failed; for most operations none.
    std::vector<std::string> statuses;
};

const std::u16string kFingerprintMissing = u"Directory for fingerprinting does  not exists: ";
const std::u16string kApplyMissing = u"Directory for patch application does  not exists: ";
const std::u16string kNewerMissing = u"Newer directory for patch creation does  not exists: ";
const std::u16string kOlderMissing = u"Older directory for patch creation does  not exists: ";
const std::u16string kNoPatch = u"No patch file specified: ";
const std::u16string kNoVault = u"No vault file specified: ";
const std::u16string kNoReport = u"No XML report file specified: ";

auto fixed(std::u16string text) {
    return [text](const Paths&) { return text; };
}
template <class Member> auto withPath(std::u16string text, Member member) {
    return [text, member](const Paths& p) { return text + backslashed(p.*member); };
}

const std::vector<FrameCase>& frameCases() {
    static const std::vector<FrameCase> cases = {
        // tkFingerprint
        {"fingerprint missing dir",
         [](CProgressSink* s, const Paths& p) { tkFingerprint(s, p.missing, u""); },
         withPath(kFingerprintMissing, &Paths::missing),
         "ostmereapi.cpp",
         {}},
        {"fingerprint missing dir with trailing separators",
         [](CProgressSink* s, const Paths& p) { tkFingerprint(s, p.missing + u"//", u"*.obj"); },
         withPath(kFingerprintMissing, &Paths::missing),
         "ostmereapi.cpp",
         {}},
        {"fingerprint empty dir argument",
         [](CProgressSink* s, const Paths&) { tkFingerprint(s, u"", u""); },
         fixed(kFingerprintMissing),
         "ostmereapi.cpp",
         {}},
        {"fingerprint of a file",
         [](CProgressSink* s, const Paths& p) { tkFingerprint(s, p.file, u""); },
         withPath(kFingerprintMissing, &Paths::file),
         "ostmereapi.cpp",
         {}},
        // tkCreateVault
        {"vault missing dir",
         [](CProgressSink* s, const Paths& p) { tkCreateVault(s, p.missing, u"", p.vault); },
         withPath(kApplyMissing, &Paths::missing),
         "vault.cpp",
         {}},
        {"vault missing dir before empty vault name",
         [](CProgressSink* s, const Paths& p) { tkCreateVault(s, p.missing + u"\\", u"", u""); },
         withPath(kApplyMissing, &Paths::missing),
         "vault.cpp",
         {}},
        {"vault empty dir argument",
         [](CProgressSink* s, const Paths& p) { tkCreateVault(s, u"", u"", p.vault); },
         fixed(kApplyMissing),
         "vault.cpp",
         {}},
        {"vault empty vault name",
         [](CProgressSink* s, const Paths& p) { tkCreateVault(s, p.dir, u"", u""); },
         fixed(kNoVault),
         "vault.cpp",
         {}},
        // tkCreatePatchVault
        {"patch-vault missing dir before empty names",
         [](CProgressSink* s, const Paths& p) {
             tkCreatePatchVault(s, p.missing, u"", u"", u"", false);
         },
         withPath(kNewerMissing, &Paths::missing),
         "tkdiff.cpp",
         {}},
        {"patch-vault dir is a file",
         [](CProgressSink* s, const Paths& p) {
             tkCreatePatchVault(s, p.file, p.out, p.vault, p.report, true);
         },
         withPath(kNewerMissing, &Paths::file),
         "tkdiff.cpp",
         {}},
        {"patch-vault empty patch before empty vault",
         [](CProgressSink* s, const Paths& p) {
             tkCreatePatchVault(s, p.dir, u"", u"", u"", false);
         },
         fixed(kNoPatch),
         "tkdiff.cpp",
         {}},
        {"patch-vault empty vault",
         [](CProgressSink* s, const Paths& p) {
             tkCreatePatchVault(s, p.dir, p.out, u"", p.report, true);
         },
         fixed(kNoVault),
         "tkdiff.cpp",
         {}},
        // tkDiffCreatePatch
        {"diff both missing reports the newer",
         [](CProgressSink* s, const Paths& p) {
             tkDiffCreatePatch(s, p.missing, p.missing2, p.out, u"", u"");
         },
         withPath(kNewerMissing, &Paths::missing2),
         "tkdiff.cpp",
         {}},
        {"diff older missing",
         [](CProgressSink* s, const Paths& p) {
             tkDiffCreatePatch(s, p.missing, p.dir, p.out, p.report, u"");
         },
         withPath(kOlderMissing, &Paths::missing),
         "tkdiff.cpp",
         {}},
        {"diff older empty argument",
         [](CProgressSink* s, const Paths& p) {
             tkDiffCreatePatch(s, u"", p.dir, p.out, u"", u"");
         },
         fixed(kOlderMissing),
         "tkdiff.cpp",
         {}},
        {"diff newer is a file",
         [](CProgressSink* s, const Paths& p) {
             tkDiffCreatePatch(s, p.dir, p.file, u"", u"", u"");
         },
         withPath(kNewerMissing, &Paths::file),
         "tkdiff.cpp",
         {}},
        {"diff empty patch",
         [](CProgressSink* s, const Paths& p) {
             tkDiffCreatePatch(s, p.older, p.dir, u"", p.report, u"");
         },
         fixed(kNoPatch),
         "tkdiff.cpp",
         {}},
        // tkApplyPatch: the patch is loaded before the directory is checked
        {"apply empty patch before missing dir",
         [](CProgressSink* s, const Paths& p) {
             tkApplyPatch(s, p.missing, u"", p.report, false, false);
         },
         fixed(kNoPatch),
         "patchReader.cpp",
         {"Applying a file"}},
        {"apply missing dir",
         [](CProgressSink* s, const Paths& p) {
             tkApplyPatch(s, p.missing + u"/", p.patch, u"", true, true);
         },
         withPath(kApplyMissing, &Paths::missing),
         "fileio.cpp",
         {"Applying a file", "Loading patch info."}},
        {"apply empty dir argument",
         [](CProgressSink* s, const Paths& p) { tkApplyPatch(s, u"", p.patch, u"", false, false); },
         fixed(kApplyMissing),
         "fileio.cpp",
         {"Applying a file", "Loading patch info."}},
        {"apply dir is a file",
         [](CProgressSink* s, const Paths& p) {
             tkApplyPatch(s, p.file, p.patch, u"", false, false);
         },
         withPath(kApplyMissing, &Paths::file),
         "fileio.cpp",
         {"Applying a file", "Loading patch info."}},
        // tkQuerryPatch
        {"query empty report before empty patch",
         [](CProgressSink* s, const Paths&) { tkQuerryPatch(s, u"", u""); },
         fixed(kNoReport),
         "ostmereapi.cpp",
         {}},
        {"query empty report",
         [](CProgressSink* s, const Paths& p) { tkQuerryPatch(s, p.patch, u""); },
         fixed(kNoReport),
         "ostmereapi.cpp",
         {}},
        {"query empty patch",
         [](CProgressSink* s, const Paths& p) { tkQuerryPatch(s, u"", p.report); },
         fixed(kNoPatch),
         "patchReader.cpp",
         {}},
    };
    return cases;
}

class FrameChecks : public ::testing::Test {
  protected:
    void SetUp() override {
        makeTree(tmp.path(), {{"dir/", ""},
                              {"older/", ""},
                              {"file", "x"},
                              {"patchsrc/old/", ""},
                              {"patchsrc/new/n.txt", "new"}});
        p.dir = u16(tmp / "dir");
        p.older = u16(tmp / "older");
        p.file = u16(tmp / "file");
        p.missing = u16(tmp / "missing");
        p.missing2 = u16(tmp / "missing2");
        p.out = u16(tmp / "out.tkp");
        p.vault = u16(tmp / "v.tkv");
        p.report = u16(tmp / "r.xml");
        p.patch = u16(tmp / "valid.tkp");
        RecordingSink sink;
        tkDiffCreatePatch(&sink, u16(tmp / "patchsrc/old"), u16(tmp / "patchsrc/new"), p.patch, u"",
                          u"");
    }
    TempDir tmp;
    Paths p;
};

TEST_F(FrameChecks, EachExportRaisesItsFirstFailingCheckAndTouchesNothing) {
    for (const auto& c : frameCases()) {
        SCOPED_TRACE(c.name);
        const auto before = describeTree(tmp.path());
        RecordingSink sink;
        CTKErr e = expectTKErr([&] { c.call(&sink, p); });
        EXPECT_EQ(utf16ToUtf8(e.message), utf16ToUtf8(c.message(p)));
        EXPECT_EQ(e.type, 0);
        EXPECT_STREQ(e.file, c.module);
        EXPECT_EQ(sink.statuses(), c.statuses);
        EXPECT_EQ(describeTree(tmp.path()), before);
    }
}

TEST(NormalizePath, SeparatorsCollapseAndNothingElseChanges) {
    struct Case {
        std::u16string in, out;
    };
    const Case cases[] = {
        {u"C:\\data\\", u"C:\\data"},
        {u"C:/data/", u"C:\\data"},
        {u"C:\\data", u"C:\\data"},
        {u"C:\\", u"C:"},
        {u"a//b\\\\c/", u"a\\b\\c"},
        {u"a/\\/b", u"a\\b"},
        {u"rel", u"rel"},
        {u"", u""},
        {u"Mixed Case/./../x y", u"Mixed Case\\.\\..\\x y"},
        {u"caf\u00e9/\U0001F600", u"caf\u00e9\\\U0001F600"},
        // An absolute POSIX path keeps one leading separator: "/x" is the directory x at the
        // file-system root, and the engine writes it "\x".
        {u"/x", u"\\x"},
        {u"/tmp/a/", u"\\tmp\\a"},
        {u"//tmp//a//", u"\\tmp\\a"},
        {u"\\tmp\\a", u"\\tmp\\a"},
        {u"\\\\server\\share", u"\\server\\share"},
        {u"/", u"\\"},
        {u"///", u"\\"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(utf16ToUtf8(normalizePath(c.in)), utf16ToUtf8(c.out))
            << "input " << utf16ToUtf8(c.in);
}

TEST(DirExists, OnlyReadableDirectoriesCount) {
    TempDir tmp;
    makeTree(tmp.path(), {{"d/", ""}, {"f", "x"}});
    fs::create_directory_symlink(tmp / "d", tmp / "linkToDir");
    fs::create_symlink(tmp / "f", tmp / "linkToFile");
    fs::create_symlink(tmp / "gone", tmp / "dangling");
    struct Case {
        std::u16string path;
        bool exists;
    };
    const Case cases[] = {
        {u16(tmp / "d"), true},
        {backslashed(u16(tmp / "d")), true},
        {normalizePath(u16(tmp / "d") + u"//"), true},
        {u16(tmp / "linkToDir"), true},
        {u"/", true},
        {normalizePath(u"/"), true},
        {u16(tmp / "f"), false},
        {u16(tmp / "linkToFile"), false},
        {u16(tmp / "dangling"), false},
        {u16(tmp / "missing"), false},
        {u"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dirExists(c.path), c.exists) << utf16ToUtf8(c.path);
}

} // namespace
