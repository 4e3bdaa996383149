// The directory fingerprint over snapshots whose maps and lists do not line up: entries
// missing from a map (read as "0" and no id), map entries no list names, lists given
// out of order. The expected digest is built here from the texts the fingerprint is made of.
#include "snapshot/fingerprint.h"
#include "snapshot/sha1.h"
#include "snapshotsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace ostmere;
using testing_support::listed;
using testing_support::RecordingSink;
using testing_support::snapshotOf;

namespace {

std::u16string digestOfTexts(const std::vector<std::u16string>& texts) {
    CSha1 sha;
    for (const auto& text : texts)
        for (char16_t unit : text) {
            const uint8_t bytes[2] = {static_cast<uint8_t>(unit & 0xFF),
                                      static_cast<uint8_t>(unit >> 8)};
            sha.update(bytes, 2);
        }
    uint8_t digest[20];
    sha.finish(digest);
    return digestToHex(digest);
}

const std::u16string kIdA = u"a9993e364706816aba3e25717850c26c9cd0d89d";
const std::u16string kIdB = u"da39a3ee5e6b4b0d3255bfef95601890afd80709";

} // namespace

TEST(FingerprintOrder, MissingAndExtraMapEntries) {
    CDirSnapshot s = snapshotOf(
        {u"\\d\\e", u"\\d", u"\\c"}, {u"\\d\\x", u"\\b", u"\\d\\e\\y", u"\\a", u"\\d\\e\\z"},
        {{u"\\d", 16},
         {u"\\d\\e", 17},
         {u"\\a", 32},
         {u"\\d\\x", 33},
         {u"\\d\\e\\z", 32},
         {u"\\unlisted", 32},
         {u"\\d\\e\\y0", 32}},
        {{u"\\a", kIdA}, {u"\\d\\x", kIdB}, {u"\\d\\e\\z", kIdA}, {u"\\zz", kIdB}});
    RecordingSink sink;
    const std::u16string fingerprint = calcFingerprint(s, &sink);

    EXPECT_EQ(fingerprint,
              digestOfTexts({u"\\c0", u"\\d16", u"\\d\\e17", u"\\a32" + kIdA, u"\\b0",
                             u"\\d\\e\\y0", u"\\d\\e\\z32" + kIdA, u"\\d\\x33" + kIdB}));
    EXPECT_EQ(listed(s.files),
              (std::vector<std::u16string>{u"\\a", u"\\b", u"\\d\\e\\y", u"\\d\\e\\z", u"\\d\\x"}));
    // A listed path without a word or an id is read as 0 and empty, and gains neither.
    EXPECT_EQ(s.attributesOf(u"\\b"), 0u);
    EXPECT_FALSE(s.find(u"\\b")->hasAttributes || s.find(u"\\b")->id.present());
}
