#include "infra/HexDump.h"

#include <gtest/gtest.h>

namespace {

TEST(HexDumpTest, EveryByteIsTwoUpperCaseDigitsAndASpace) {
    EXPECT_EQ(HexDump(std::string_view("\x00\xFF\x1a\x7f", 4)), "00 FF 1A 7F ");
}

TEST(HexDumpTest, NothingGivesAnEmptyText) {
    EXPECT_EQ(HexDump(nullptr, 5), "");
    EXPECT_EQ(HexDump("abc", 0), "");
    EXPECT_EQ(HexDump("abc", -1), "");
}

}  // namespace
