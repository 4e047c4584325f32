// The output mask built from the window's level check list, and what each bit
// means inside the module.
#include <gtest/gtest.h>

#include "infra/LogMask.h"
#include "modules/Lognest/OutputMask.h"

namespace {

TEST(LogMaskTest, AllChecksGiveBitsOneToFive) {
    const bool checked[kLogMaskCheckCount] = {true, true, true, true, true};
    EXPECT_EQ(LogOutputMaskFromChecks(checked), 0x3E);
    EXPECT_EQ(LogOutputMaskFromChecks(checked), lognest::kDefaultOutputMask);
}

TEST(LogMaskTest, FrmLogAndFatalLogGiveThirtySix) {
    const bool checked[kLogMaskCheckCount] = {false, true, false, false, true};
    EXPECT_EQ(LogOutputMaskFromChecks(checked), 36);
}

TEST(LogMaskTest, NoChecksGiveZero) {
    const bool checked[kLogMaskCheckCount] = {false, false, false, false, false};
    EXPECT_EQ(LogOutputMaskFromChecks(checked), 0);
}

TEST(LogMaskTest, EachCheckIsItsOwnBit) {
    for (int item = 0; item < kLogMaskCheckCount; ++item) {
        bool checked[kLogMaskCheckCount] = {};
        checked[item] = true;
        EXPECT_EQ(LogOutputMaskFromChecks(checked), 1 << (item + 1)) << item;
    }
}

TEST(OutputMaskTest, NomalAndInfoAlwaysGoToTheFiles) {
    EXPECT_TRUE(lognest::MaskLetsIntoFiles(0, llNomal));
    EXPECT_TRUE(lognest::MaskLetsIntoFiles(0, llInfo));
    for (int level = llDebug; level <= llFatal; ++level) EXPECT_FALSE(lognest::MaskLetsIntoFiles(0, level)) << level;
}

TEST(OutputMaskTest, BitsSelectTheirLevels) {
    using namespace lognest;
    EXPECT_TRUE(MaskLetsIntoFiles(kMaskDebug, llDebug));
    EXPECT_FALSE(MaskLetsIntoFiles(kMaskNotify, llDebug));
    for (int level : {llPyWarn, llWarn, llDesign}) EXPECT_TRUE(MaskLetsIntoFiles(kMaskWarning, level)) << level;
    EXPECT_FALSE(MaskLetsIntoFiles(kMaskWarning, llPyErr));
    for (int level : {llPyErr, llError}) EXPECT_TRUE(MaskLetsIntoFiles(kMaskError, level)) << level;
    EXPECT_FALSE(MaskLetsIntoFiles(kMaskError, llFatal));
    EXPECT_TRUE(MaskLetsIntoFiles(kMaskFatal, llFatal));
}

}  // namespace
