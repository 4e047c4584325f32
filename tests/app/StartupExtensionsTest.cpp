#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/StartupExtensions.h"

namespace {

TEST(StartupExtensionsTest, WithNothingAddedEveryPointGoesStraightOn) {
    StartupExtensions extensions;
    for (int i = 0; i < kExtensionPointCount; ++i) {
        EXPECT_TRUE(extensions.Run(static_cast<ExtensionPoint>(i)));
        EXPECT_EQ(extensions.Count(static_cast<ExtensionPoint>(i)), 0);
    }
}

TEST(StartupExtensionsTest, StepsRunInTheOrderTheyWereAdded) {
    StartupExtensions extensions;
    std::vector<std::string> ran;
    extensions.Add(ExtensionPoint::OnStartRun, [&] { ran.push_back("first"); return true; });
    extensions.Add(ExtensionPoint::OnStartRun, [&] { ran.push_back("second"); return true; });
    extensions.Add(ExtensionPoint::OnStopLink, [&] { ran.push_back("other point"); return true; });
    EXPECT_TRUE(extensions.Run(ExtensionPoint::OnStartRun));
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
}

TEST(StartupExtensionsTest, OnlyTheTwoEndingPointsStopAtAFalseStep) {
    StartupExtensions extensions;
    int after = 0;
    for (ExtensionPoint point : {ExtensionPoint::OnCreateChecks, ExtensionPoint::OnStartLink, ExtensionPoint::OnStartViews}) {
        extensions.Add(point, [] { return false; });
        extensions.Add(point, [&] { ++after; return true; });
    }
    EXPECT_FALSE(extensions.Run(ExtensionPoint::OnCreateChecks));
    EXPECT_FALSE(extensions.Run(ExtensionPoint::OnStartLink));
    EXPECT_EQ(after, 0);
    EXPECT_TRUE(extensions.Run(ExtensionPoint::OnStartViews));  // cannot end its flow: goes on
    EXPECT_EQ(after, 1);
    EXPECT_STREQ(StartupExtensions::Name(ExtensionPoint::OnDestroyLink), "OnDestroyLink");
}

}  // namespace
