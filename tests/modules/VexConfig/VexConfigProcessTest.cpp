// The configuration proxy's loading failures, each in a process of its own:
// a copy of vexconfig_probe in an empty folder, beside which the test puts
// the real module, a broken one or none.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/ModuleLoader.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

class VexConfigProcessTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_Dir.Path().empty());
        fs::copy_file(plat::ExecutableDir() + "vexconfig_probe", m_Dir / "vexconfig_probe");
    }
    void Place(const std::string& builtName) {
        fs::copy_file(plat::ExecutableDir() + builtName, m_Dir / "libVexConfig.so");
    }
    void ExpectFatal(const std::string& text) {
        const testsupport::RunResult result = testsupport::RunInFolder(m_Dir, "./vexconfig_probe");
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, "Error report: " + text + "\n");
        EXPECT_EQ(result.out, "");
    }

    testsupport::TempDir m_Dir;
};

TEST_F(VexConfigProcessTest, MissingModuleEndsTheProcess) {
    ExpectFatal("Can't find VexConfig.dll!!!Fail to start server!!!");
}

TEST_F(VexConfigProcessTest, ModuleWithoutCreateConfigEndsTheProcess) {
    Place("libFakeVexConfigEmpty.so");
    ExpectFatal("Can't find CreateConfig function in VexConfig module!!!Fail to start server!!!");
}

TEST_F(VexConfigProcessTest, ModuleWithoutFreeConfigEndsTheProcess) {
    Place("libFakeVexConfigCreateOnly.so");
    ExpectFatal("Can't find FreeConfig function in VexConfig module!!!Fail to start server!!!");
}

TEST_F(VexConfigProcessTest, RealModuleLoads) {
    Place("libVexConfig.so");
    const testsupport::RunResult result = testsupport::RunInFolder(m_Dir, "./vexconfig_probe");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "ok\n");
}

}  // namespace
