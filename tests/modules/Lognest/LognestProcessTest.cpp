// The program's side of loading the module, in processes of their own: a
// copy of lognest_probe in an empty temporary folder, beside which the test
// puts the real module, a broken one or none.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/ModuleLoader.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadAll;
using testsupport::ReadLines;
using testsupport::RunInFolder;
using testsupport::RunResult;
using testsupport::TempDir;

class LognestProcessTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_Dir.Path().empty());
        fs::copy_file(plat::ExecutableDir() + "lognest_probe", m_Dir / "lognest_probe");
    }
    // Places a library of the build folder beside the probe as libLognest.so.
    void PlaceModule(const std::string& builtName) {
        fs::copy_file(plat::ExecutableDir() + builtName, m_Dir / "libLognest.so");
    }
    RunResult Run(const std::string& arguments) { return RunInFolder(m_Dir, "./lognest_probe " + arguments); }

    TempDir m_Dir;
};

TEST_F(LognestProcessTest, MissingModuleEndsTheProcessWithTheErrorReport) {
    const RunResult result = Run("get");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err, testing::HasSubstr("Error report: Can't find lognest.dll!!!Fail to start server!!!"));
    EXPECT_EQ(result.out, "");
}

TEST_F(LognestProcessTest, ModuleWithoutGetLogEndsTheProcess) {
    PlaceModule("libFakeLognestEmpty.so");
    const RunResult result = Run("get");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err,
                testing::HasSubstr("Error report: Can't find GetLog function in lognest module!!!Fail to start server!!!"));
}

TEST_F(LognestProcessTest, ModuleWithoutLogFreeEndsTheProcess) {
    PlaceModule("libFakeLognestGetLogOnly.so");
    const RunResult result = Run("get");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err, testing::HasSubstr(
                                "Error report: Can't find Log_Free function in lognest module!!!Fail to start server!!!"));
}

TEST_F(LognestProcessTest, RealModuleLoads) {
    PlaceModule("libLognest.so");
    const RunResult result = Run("get");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "ok\n");
}

TEST_F(LognestProcessTest, NormalExitWithoutLogFreeStillWritesEveryEntry) {
    PlaceModule("libLognest.so");
    constexpr int kEntries = 20000;
    const RunResult result = Run("exit " + std::to_string(kEntries));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string folder = m_Dir / "D/ServerLog";
    const auto names = testsupport::FileNames(folder);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_THAT(names[0], testing::MatchesRegex(R"(Probe_[0-9]{4}-[0-9]{2}-[0-9]{2}\.log)"));
    const auto lines = ReadLines(folder + "/" + names[0]);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kEntries));
    EXPECT_EQ(testsupport::LineText(lines.back()), "probe entry " + std::to_string(kEntries - 1));
}

}  // namespace
