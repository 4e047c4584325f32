// The companion check launchers against stand-in tools: shell scripts placed
// under the tools' names in a temporary folder that plays the executable's
// folder. Failures end the process, so those cases run in a forked child.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "diag/EnvironmentCheck.h"
#include "platform/MessageBox.h"
#include "tests/platform/ChildProcess.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/TestFiles.h"

namespace {

using testing::ElementsAre;

class EnvironmentCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(root.Path().empty());
        ::setenv("VARNHOLT_DATA_ROOT", root.Path().c_str(), 1);
        std::filesystem::create_directories(ExeFolder());
    }
    void TearDown() override { ::unsetenv("VARNHOLT_DATA_ROOT"); }

    std::string ExeFolder() const { return root / "bin"; }
    std::string OwnPath() const { return root / "bin/VarnholtServerd"; }
    void PlaceTool(const std::string& name, const std::string& body, std::filesystem::perms mode) {
        const std::string path = ExeFolder() + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(path, mode);
    }
    void PlaceTool(const std::string& name, const std::string& body) {
        PlaceTool(name, body, std::filesystem::perms::owner_all);
    }
    // Runs a dump in a child with the console's standard streams redirected;
    // its exit code.
    int DumpInChild(bool withPresenter) {
        const std::string boxFile = root / "box.txt";
        const std::string outFile = root / "stdout.txt";
        const pid_t child = testsupport::ForkChild([&] {
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, STDIN_FILENO);
            const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            testsupport::ScopedCapturingLog log;
            if (withPresenter) {
                plat::SetMessageBoxPresenter([&](const plat::MessageBoxRequest& request) {
                    std::ofstream box(boxFile);
                    box << request.caption << "\n" << request.text << "\n"
                        << (request.icon == plat::MessageBoxIcon::Error) << request.topmost << "\n";
                    for (const std::string& text : log->Texts(llError)) box << "error: " << text << "\n";
                    return true;
                });
            }
            envcheck::RunEnvironmentDumpFor(OwnPath(), "D:\\ServerLog\\");
            return 0;
        });
        return testsupport::WaitChild(child);
    }

    testsupport::TempDir root;
};

TEST_F(EnvironmentCheckTest, TheDumpToolGetsBothPathsAndItsLogLandsInTheLogFolder) {
    PlaceTool("DumpRunEnvironmentInfo",
              "printf '%s\\n' \"$0\" \"$@\" > \"$(dirname \"$0\")/args.txt\"\n"
              "echo dumped > \"${2#/lfp:}\"");
    testsupport::ScopedCapturingLog log;
    envcheck::RunEnvironmentDumpFor(OwnPath(), "D:\\ServerLog\\");

    const std::string logFile = root / "D/ServerLog/EnvInfo.log";
    EXPECT_THAT(testsupport::ReadLines(ExeFolder() + "/args.txt"),
                ElementsAre(ExeFolder() + "/DumpRunEnvironmentInfo", "/ep:" + OwnPath(), "/lfp:" + logFile));
    EXPECT_EQ(testsupport::ReadAll(logFile), "dumped\n");
    EXPECT_THAT(log->Texts(llInfo), ElementsAre("Begin dump environment info!", std::string(91, '-'),
                                                "End dump environment info!"));
}

TEST_F(EnvironmentCheckTest, ALogFolderWithoutTrailingSeparatorLosesItsLastElement) {
    PlaceTool("DumpRunEnvironmentInfo", "echo dumped > \"${2#/lfp:}\"");
    testsupport::ScopedCapturingLog log;
    envcheck::RunEnvironmentDumpFor(OwnPath(), "D:\\ServerLog");
    EXPECT_EQ(testsupport::ReadAll(root / "D/EnvInfo.log"), "dumped\n");
}

TEST_F(EnvironmentCheckTest, ADumpToolExitingWithThreeEndsTheServerWithExitCodeOne) {
    PlaceTool("DumpRunEnvironmentInfo", "exit 3");
    EXPECT_EQ(DumpInChild(true), 1);
    EXPECT_THAT(testsupport::ReadLines(root / "box.txt"),
                ElementsAre("Check EvnInfoError", "Check environment faild, DumpRunEnvInfo exit code = 3", "11",
                            "error: Check environment faild, DumpRunEnvInfo exit code = 3"));
    EXPECT_EQ(testsupport::ReadAll(root / "stdout.txt"), "");
}

TEST_F(EnvironmentCheckTest, ACommandLineLongerThanItsBufferIsRefused) {
    // Four 200-character folders put the quoted command line past 780.
    std::string deep = ExeFolder();
    for (int i = 0; i < 4; ++i) deep += "/" + std::string(200, 'a' + i);
    std::filesystem::create_directories(deep);
    const std::string tool = deep + "/DumpRunEnvironmentInfo";
    std::ofstream(tool) << "#!/bin/sh\nexit 0\n";
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    const std::string boxFile = root / "box.txt";
    const pid_t child = testsupport::ForkChild([&] {
        testsupport::ScopedCapturingLog log;
        plat::SetMessageBoxPresenter([&](const plat::MessageBoxRequest& request) {
            std::ofstream(boxFile) << request.text << "\n";
            return true;
        });
        envcheck::RunEnvironmentDumpFor(deep + "/VarnholtServerd", "D:\\ServerLog\\");
        return 0;
    });
    EXPECT_EQ(testsupport::WaitChild(child), 1);
    EXPECT_THAT(testsupport::ReadLines(boxFile), ElementsAre("Format cmdline failed, maybe buff overflow, errno = 34"));
}

TEST_F(EnvironmentCheckTest, WithoutAWindowOrATerminalTheFailureEndsAtOnce) {
    EXPECT_EQ(DumpInChild(false), 1);  // no tool at all
    EXPECT_EQ(testsupport::ReadAll(root / "stdout.txt"), "Press any key to exit!\r\n");
}

TEST_F(EnvironmentCheckTest, AMissingResourceCheckLeavesOneWarnLineAndReturns) {
    testsupport::ScopedCapturingLog log;
    RunResourceCheck(ExeFolder().c_str());
    EXPECT_THAT(log->Texts(llWarn), ElementsAre("Can't find file: " + ExeFolder() + "/ResourceCheck"));
    EXPECT_EQ(log->Entries().size(), 1u);
}

TEST_F(EnvironmentCheckTest, TheResourceCheckRunsToItsEndWhateverItsExitCode) {
    PlaceTool("ResourceCheck", "sleep 0.2; echo \"$0\" > \"$(dirname \"$0\")/ran.txt\"; exit 1");
    testsupport::ScopedCapturingLog log;
    RunResourceCheck(ExeFolder().c_str());
    EXPECT_EQ(testsupport::ReadAll(ExeFolder() + "/ran.txt"), ExeFolder() + "/ResourceCheck\n");
    EXPECT_THAT(log->Texts(llInfo), ElementsAre("Begin checking file integrity!", "End  checking file integrity!"));
}

TEST_F(EnvironmentCheckTest, AResourceCheckThatCannotStartEndsWithAllBitsSet) {
    PlaceTool("ResourceCheck", "exit 0", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const pid_t child = testsupport::ForkChild([&] {
        RunResourceCheck(ExeFolder().c_str());
        return 0;
    });
    EXPECT_EQ(testsupport::WaitChild(child), 255);
}

}  // namespace
