#include "core/tkerr.h"
#include "expecterr.h"
#include "testsupport.h"

#include <cerrno>
#include <gtest/gtest.h>

// Locations name the module a file declares, not the file itself.
TK_MODULE("declared");

using namespace testing_support;

namespace {

std::string text(const CTKErr& e) {
    return utf16ToUtf8(e.toStr());
}

TEST(CTKErrText, FourLinesEachEndedByALineFeed) {
    CTKErr e(eErrGeneral, u"Unable to open file:C:\\x", "fileReader.cpp", 82);
    e.errorCode = 2;
    EXPECT_EQ(text(e), "Error type:0\n"
                       "Message: Unable to open file:C:\\x\n"
                       "Error Code: 2\n"
                       "Location: fileReader.cpp line:82\n");
}

TEST(CTKErrText, NumbersAndEmptyMessage) {
    struct Case {
        uint32_t code;
        int32_t line;
        const char* expected;
    };
    const Case cases[] = {
        {63, 7, "Error type:0\nMessage: \nError Code: 3f\nLocation: fileio.cpp line:7\n"},
        {0, 0, "Error type:0\nMessage: \nError Code: 0\nLocation: fileio.cpp line:0\n"},
        {0xDEADBEEF, -12,
         "Error type:0\nMessage: \nError Code: deadbeef\nLocation: fileio.cpp line:-12\n"},
    };
    for (const auto& c : cases) {
        CTKErr e(eErrGeneral, u"", "fileio.cpp", c.line);
        e.errorCode = c.code;
        EXPECT_EQ(text(e), c.expected);
    }
}

TEST(CTKErrText, NonAsciiMessageIsKept) {
    CTKErr e(eErrGeneral, u"Unable to open file:\\caf\u00e9", "fileReader.cpp", 1);
    e.errorCode = 0;
    EXPECT_EQ(text(e), "Error type:0\nMessage: Unable to open file:\\caf\xc3\xa9\n"
                       "Error Code: 0\nLocation: fileReader.cpp line:1\n");
}

TEST(CTKErrFields, ConstructorReadsTheLastErrorOnceAndCopiesKeepIt) {
    errno = ENOENT;
    CTKErr original(eErrGeneral, u"m", "vault.cpp", 5);
    EXPECT_EQ(original.errorCode, static_cast<uint32_t>(ENOENT));
    errno = EACCES;
    CTKErr copy(original);
    CTKErr assigned;
    assigned = original;
    for (const CTKErr* e : {&copy, &assigned}) {
        EXPECT_EQ(e->errorCode, static_cast<uint32_t>(ENOENT));
        EXPECT_EQ(e->message, u"m");
        EXPECT_EQ(e->file, original.file); // static text, shared rather than copied
        EXPECT_EQ(e->line, 5);
        EXPECT_EQ(e->type, eErrGeneral);
    }
}

TEST(CTKErrFields, RaiseNamesTheModuleSourceFileAndLine) {
    CTKErr e = expectTKErr([] { TK_RAISE(u"Boom: " + std::u16string(u"x")); });
    const int expectedLine = __LINE__ - 1;
    EXPECT_EQ(e.type, 0);
    EXPECT_EQ(e.message, u"Boom: x");
    EXPECT_STREQ(e.file, "declared.cpp");
    EXPECT_EQ(e.line, expectedLine);
}

TEST(CTimerText, ElapsedWholeSecondsAsHoursMinutesSeconds) {
    struct Case {
        int64_t elapsed;
        const char* expected;
    };
    const Case cases[] = {{0, "00:00:00"},       {59, "00:00:59"},     {60, "00:01:00"},
                          {3599, "00:59:59"},    {3661, "01:01:01"},   {86399, "23:59:59"},
                          {360000, "100:00:00"}, {362439, "100:40:39"}};
    for (const auto& c : cases) {
        CTimer t;
        t.startTime = 1000000;
        t.stopTime = 1000000 + c.elapsed;
        EXPECT_EQ(utf16ToUtf8(t.getTime()), c.expected) << c.elapsed;
    }
}

TEST(CTimerText, FreshTimerShowsZeroAndStartClearsTheStopTime) {
    CTimer t;
    EXPECT_EQ(t.startTime, 0);
    EXPECT_EQ(t.stopTime, 0);
    EXPECT_EQ(utf16ToUtf8(t.getTime()), "00:00:00");
    t.stopTime = 99;
    t.start();
    EXPECT_EQ(t.stopTime, 0);
    EXPECT_GT(t.startTime, 1600000000); // calendar seconds, not a process clock
    t.stop();
    EXPECT_GE(t.stopTime, t.startTime);
    CTimer copy;
    copy = t;
    EXPECT_EQ(copy.startTime, t.startTime);
    EXPECT_EQ(copy.stopTime, t.stopTime);
}

TEST(Version, WritesExactlyFiveCodeUnits) {
    char16_t buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), u'\xffff');
    OstmereVersion(buffer);
    EXPECT_EQ(std::u16string(buffer, 5), std::u16string(u"1.01\0", 5));
    EXPECT_EQ(buffer[5], u'\xffff');
}

} // namespace
