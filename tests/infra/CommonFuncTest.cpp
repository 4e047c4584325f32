// Exception code names, the call-stack text, file times and text formatting.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "infra/CommonFunc.h"

namespace stacktest {

// Not in an anonymous namespace: only exported names appear in the stack text.
__attribute__((noinline)) std::string StackFromNamedFunction() {
    std::string text = LastExceptionStackText();
    asm volatile("" ::: "memory");  // keeps the call from becoming a tail call
    return text;
}

}  // namespace stacktest

namespace {

TEST(ExceptionCodeNameTest, KnownOperatingSystemCodesHaveTheirNames) {
    EXPECT_STREQ(ExceptionCodeName(0xC0000005), "ACCESS_VIOLATION");
    EXPECT_STREQ(ExceptionCodeName(0x80000001), "GUARD_PAGE_VIOLATION");
    EXPECT_STREQ(ExceptionCodeName(0x80000002), "DATATYPE_MISALIGNMENT");
    EXPECT_STREQ(ExceptionCodeName(0xC000001D), "ILLEGAL_INSTRUCTION");
    EXPECT_STREQ(ExceptionCodeName(0xC000008E), "FLOAT_DIVIDE_BY_ZERO");
    EXPECT_STREQ(ExceptionCodeName(0xC0000094), "INTEGER_DIVIDE_BY_ZERO");
    EXPECT_STREQ(ExceptionCodeName(0xC0000095), "INTEGER_OVERFLOW");
    EXPECT_STREQ(ExceptionCodeName(0xC0000096), "PRIVILEGED_INSTRUCTION");
    EXPECT_STREQ(ExceptionCodeName(0xC00000FD), "STACK_OVERFLOW");
}

TEST(ExceptionCodeNameTest, UnlistedCodesAreUnknown) {
    EXPECT_STREQ(ExceptionCodeName(0), "UNKNOWN_EXCEPTION");
    EXPECT_STREQ(ExceptionCodeName(0xC0000007), "UNKNOWN_EXCEPTION");
    EXPECT_STREQ(ExceptionCodeName(0x0EEDFADD), "UNKNOWN_EXCEPTION");
    EXPECT_STREQ(ExceptionCodeName(0x0EEDFAE6), "UNKNOWN_EXCEPTION");
}

TEST(ExceptionCodeNameTest, NineRuntimeCodesHaveDistinctNamesOfTheirOwn) {
    const uint32_t operatingSystemCodes[] = {
        0x80000001, 0x80000002, 0x80000003, 0x80000004, 0xC0000005, 0xC0000006, 0xC000001D,
        0xC0000025, 0xC0000026, 0xC000008C, 0xC000008D, 0xC000008E, 0xC000008F, 0xC0000090,
        0xC0000091, 0xC0000092, 0xC0000093, 0xC0000094, 0xC0000095, 0xC0000096, 0xC00000FD};
    std::set<std::string> names;
    for (uint32_t code : operatingSystemCodes) names.insert(ExceptionCodeName(code));
    ASSERT_EQ(names.size(), 21u);
    const uint32_t runtimeCodes[] = {0x0EEDFADE, 0x0EEDFADF, 0x0EEDFAE0, 0x0EEDFAE1, 0x0EEDFAE2,
                                     0x0EEDFAE3, 0x0EEDFAE4, 0x0EEDFAE5, 0x0EEFFACE};
    for (uint32_t code : runtimeCodes) {
        const std::string name = ExceptionCodeName(code);
        EXPECT_NE(name, "UNKNOWN_EXCEPTION") << std::hex << code;
        EXPECT_TRUE(names.insert(name).second) << name << " is used twice";
    }
    EXPECT_STREQ(ExceptionCodeName(kCppTypedExceptionCode), "CPP_TYPED_EXCEPTION");
    EXPECT_STREQ(ExceptionCodeName(kRuntimeTerminateCode), "RUNTIME_TERMINATE");
}

TEST(LastExceptionStackTextTest, ListsTheCallersFramesOnCrLfSeparatedLines) {
    const std::string text = stacktest::StackFromNamedFunction();
    const std::string header = "Exception Call Stack:\r\n";
    ASSERT_EQ(text.substr(0, header.size()), header);
    EXPECT_NE(text.find("stacktest::StackFromNamedFunction"), std::string::npos) << text;
    EXPECT_EQ(text.find("LastExceptionStackText"), std::string::npos) << "its own frames are left out";
    EXPECT_NE(text.find("\r\n", header.size()), std::string::npos) << "more than one frame";
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        ASSERT_GT(at, 0u);
        EXPECT_EQ(text[at - 1], '\r') << "bare LF at " << at;
    }
}

TEST(LastExceptionStackTextTest, WorksInsideACatchBlock) {
    std::string text;
    try {
        throw std::runtime_error("x");
    } catch (const std::exception&) {
        text = LastExceptionStackText();
    }
    EXPECT_EQ(text.rfind("Exception Call Stack:\r\n", 0), 0u);
}

TEST(FileTimeTest, JoinsLowAndHighHalves) {
    EXPECT_EQ(FileTimeToUInt64(FILETIME{0, 0}), 0u);
    EXPECT_EQ(FileTimeToUInt64(FILETIME{0xFFFFFFFFu, 0}), 0xFFFFFFFFull);
    EXPECT_EQ(FileTimeToUInt64(FILETIME{0x89ABCDEFu, 0x01234567u}), 0x0123456789ABCDEFull);
    EXPECT_EQ(FileTimeToUInt64(FILETIME{0, 1}), 0x100000000ull);
}

TEST(FormatTextTest, FormatsPrintfStyle) {
    EXPECT_EQ(FormatText("%s  Sys start id = %d", "T", 42), "T  Sys start id = 42");
    EXPECT_EQ(FormatText("%0x", 0xBEEFu), "beef");
    EXPECT_EQ(FormatText("%s", ""), "");
    const std::string longText(5000, 'x');
    EXPECT_EQ(FormatText("<%s>", longText.c_str()), "<" + longText + ">");
}

}  // namespace
