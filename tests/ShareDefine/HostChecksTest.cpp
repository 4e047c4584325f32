// The host checks against a Boot.ini laid out in a temporary data root, with
// a presenter that records every box and gives the answer the test chose.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ShareDefine/ServerCommon.h"
#include "platform/MessageBox.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/TestFiles.h"

namespace {

using testing::HasSubstr;
using testing::StartsWith;

constexpr uint32_t kDayMs = 86400000u;

class HostChecksTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(root.Path().empty());
        ::setenv("VARNHOLT_DATA_ROOT", root.Path().c_str(), 1);
        plat::SetMessageBoxPresenter([this](const plat::MessageBoxRequest& request) {
            boxes.push_back(request);
            return answer;
        });
    }
    void TearDown() override {
        plat::SetMessageBoxPresenter(nullptr);
        ::unsetenv("VARNHOLT_DATA_ROOT");
    }
    std::string BootIni() const { return root / "C/Boot.ini"; }
    void WriteBootIni(const std::string& text) {
        std::filesystem::create_directories(root / "C");
        std::ofstream(BootIni()) << text;
    }

    testsupport::TempDir root;
    testsupport::ScopedCapturingLog log;
    std::vector<plat::MessageBoxRequest> boxes;
    bool answer = true;
};

TEST_F(HostChecksTest, AHostWithoutBootIniFailsAndNamesThePath) {
    EXPECT_FALSE(DEPCheck());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Can't Find Dir : " + BootIni());
    EXPECT_TRUE(log->Has(llInfo, "DEPCheck()"));
    EXPECT_FALSE(log->Has(llInfo, "ServerRunTimeCheck()"));
}

TEST_F(HostChecksTest, AFolderNamedBootIniIsNoBootIni) {
    std::filesystem::create_directories(BootIni());
    EXPECT_FALSE(DEPCheck());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_THAT(boxes[0].text, StartsWith("Can't Find Dir : "));
}

TEST_F(HostChecksTest, OptInWrittenInMixedCasePassesWithoutAQuestion) {
    WriteBootIni("[boot loader]\r\ntimeout=30\r\n[operating systems]\r\nmulti(0)=\"Server\" /FastDetect /NoExecute=OptIn\r\n");
    EXPECT_TRUE(DEPCheck());
    for (const auto& box : boxes) EXPECT_NE(box.caption, "Close Ask");
    EXPECT_TRUE(log->Has(llInfo, "ServerRunTimeCheck()"));
}

TEST_F(HostChecksTest, WithoutOptInTheOperatorIsAskedAndOkGoesOn) {
    WriteBootIni("multi(0)=\"Server\" /noexecute=alwayson\n");
    answer = true;
    EXPECT_TRUE(DEPCheck());
    ASSERT_GE(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Close Ask");
    EXPECT_EQ(boxes[0].buttons, plat::MessageBoxButtons::OkCancel);
    EXPECT_EQ(boxes[0].text,
              "DEP Is Activate, Server May Not Run Normally! Continue Run?\n"
              "系统DEP已启用,服务器可能不能正常运行!是否继续运行?\n"
              "[My Computer->Propertise->Advaced->Performance Settings->Data Excution Prevention. Choose First!]");
    EXPECT_TRUE(log->Has(llInfo, "ServerRunTimeCheck()"));
}

TEST_F(HostChecksTest, WithoutOptInCancelEndsTheCheckBeforeTheRunTimeCheck) {
    WriteBootIni("multi(0)=\"Server\" /noexecute=optout\n");
    answer = false;
    EXPECT_FALSE(DEPCheck());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Close Ask");
    EXPECT_FALSE(log->Has(llInfo, "ServerRunTimeCheck()"));
}

TEST_F(HostChecksTest, AnUnreadableBootIniIsReportedAndTheCheckGoesOn) {
    // /proc/self/mem exists as a regular file and refuses reads at offset 0,
    // even to root, who could read a file without permissions.
    std::filesystem::create_directories(root / "C");
    std::filesystem::create_symlink("/proc/self/mem", BootIni());
    answer = false;
    EXPECT_TRUE(DEPCheck());
    ASSERT_GE(boxes.size(), 1u);
    EXPECT_THAT(boxes[0].text, HasSubstr(BootIni()));
    for (const auto& box : boxes) EXPECT_NE(box.caption, "Close Ask");
    EXPECT_TRUE(log->Has(llInfo, "ServerRunTimeCheck()"));
}

TEST_F(HostChecksTest, TwentyTwoDaysOfUptimeStaySilent) {
    EXPECT_TRUE(ServerRunTimeCheck(22 * kDayMs));
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(log->Has(llInfo, "ServerRunTimeCheck()"));
}

TEST_F(HostChecksTest, TwentyThreeDaysWarnWithTwentyFourAndThirtyWithThirtyOne) {
    EXPECT_TRUE(ServerRunTimeCheck(1987200000u));
    EXPECT_TRUE(ServerRunTimeCheck(30 * kDayMs));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text,
              "---Tarn Server Max RunTime = 24 Days---!\n"
              "Server Already Run 24 Days, Need To Restart Windows To Run Safely!\n"
              "服务器已经运行了 24 天, 需要重启Windows之后才可以正常运行!\n"
              "服務器已經運行了 24 天, 需要重啟Windows之后才可以正常運行!");
    EXPECT_THAT(boxes[1].text, HasSubstr("Server Already Run 31 Days,"));
    EXPECT_THAT(boxes[1].text, HasSubstr("运行了 31 天"));
    EXPECT_THAT(boxes[1].text, HasSubstr("運行了 31 天"));
}

TEST_F(HostChecksTest, TheWarningWindowEndsExactlyAtItsBounds) {
    EXPECT_TRUE(ServerRunTimeCheck(1974683647u));
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(ServerRunTimeCheck(1974683648u));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_THAT(boxes[0].text, HasSubstr("Server Already Run 23 Days,"));
    EXPECT_TRUE(ServerRunTimeCheck(4122167296u));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_THAT(boxes[1].text, HasSubstr("Server Already Run 48 Days,"));
    // Past it the 32-bit tick has wrapped and the sum is positive again.
    EXPECT_TRUE(ServerRunTimeCheck(4122167297u));
    EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(HostChecksTest, TheMarkerFileIsLookedUpByItsExactName) {
    EXPECT_FALSE(MarkerFileExistsIn(root.Path()));
    std::ofstream(root / (std::string(kMarkerFileName) + ".txt")) << "";
    EXPECT_FALSE(MarkerFileExistsIn(root.Path()));
    std::ofstream(root / "5D2E7A90-1C4B-4F3E-9A61-83B0C7E24D15") << "";
    EXPECT_TRUE(MarkerFileExistsIn(root.Path()));
}

}  // namespace
