// The adapters' loading failures, each in a process of its own: a copy of
// netlib_probe in an empty folder, beside which the test puts the real
// module, a broken one or none.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/ModuleLoader.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

class NetLibAdaptersProcessTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_Dir.Path().empty());
        fs::copy_file(plat::ExecutableDir() + "netlib_probe", m_Dir / "netlib_probe");
    }
    void Place(const std::string& builtName, const std::string& asName) {
        fs::copy_file(plat::ExecutableDir() + builtName, m_Dir / asName);
    }
    testsupport::RunResult Run(const std::string& which) {
        return testsupport::RunInFolder(m_Dir, "./netlib_probe " + which);
    }
    void ExpectFatal(const std::string& which, const std::string& text) {
        const testsupport::RunResult result = Run(which);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_THAT(result.err, HasSubstr("Error report: " + text));
        EXPECT_EQ(result.out, "");
    }

    testsupport::TempDir m_Dir;
};

TEST_F(NetLibAdaptersProcessTest, MissingBlockClientModule) {
    ExpectFatal("block", "Can't find nqBlockClient.dll!!!Fail to start server!!!");
}

TEST_F(NetLibAdaptersProcessTest, BlockClientWithoutGetNqBlockSocket) {
    Place("libFakeNetEmpty.so", "libnqBlockClient.so");
    ExpectFatal("block", "Can't find GetNqBlockSocket function in nqBlockClient module!!!Fail to start server!!!");
}

TEST_F(NetLibAdaptersProcessTest, BlockClientWithoutFreeNqBlockSocket) {
    Place("libFakeNetGetSocket.so", "libnqBlockClient.so");
    ExpectFatal("block", "Can't find FreeNqBlockSocket function in nqBlockClient module!!!Fail to start server!!!");
}

TEST_F(NetLibAdaptersProcessTest, MissingNetServiceModuleNamesTheErrorCode) {
    const testsupport::RunResult result = Run("service");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err, testing::MatchesRegex("Error report: Can't find QXNetService.dll!!!Error = [0-9]+!!!\n"));
}

TEST_F(NetLibAdaptersProcessTest, NetServiceExportsAreCheckedInOrder) {
    Place("libFakeNetEmpty.so", "libQXNetService.so");
    ExpectFatal("service",
                "Can't find GetQXNetServiceInstance function in QXNetService module!!!Fail to start server!!!");
    fs::remove(m_Dir / "libQXNetService.so");
    Place("libFakeNetGetInstance.so", "libQXNetService.so");
    ExpectFatal("service", "Can't find GetNetMsgPool function in QXNetService module!!!Fail to start server!!!");
    fs::remove(m_Dir / "libQXNetService.so");
    Place("libFakeNetNoFreePool.so", "libQXNetService.so");
    ExpectFatal("service", "Can't find FreeNetMsgPool function in QXNetService module!!!Fail to start server!!!");
}

TEST_F(NetLibAdaptersProcessTest, RealModulesLoad) {
    Place("libnqBlockClient.so", "libnqBlockClient.so");
    Place("libQXNetService.so", "libQXNetService.so");
    EXPECT_EQ(Run("block").out, "ok\n");
    const testsupport::RunResult result = Run("service");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "ok\n");
}

}  // namespace
