// The companion check programs run as the gateway runs them, from a folder
// of their own: ResourceCheck against a manifest written here, and
// DumpRunEnvironmentInfo against an installation that lacks modules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/ModuleLoader.h"
#include "tests/support/TestFiles.h"

namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::MatchesRegex;

constexpr const char* kSumOfAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr const char* kSumOfNothing = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string Quote(const std::string& text) { return "'" + text + "'"; }

TEST(ResourceCheckTest, MissingAndChangedFilesAreListedWithASummary) {
    testsupport::TempDir folder;
    const std::string install = folder / "bin";
    std::filesystem::create_directories(install);
    std::filesystem::copy_file(plat::ExecutableDir() + "ResourceCheck", install + "/ResourceCheck");
    std::ofstream(install + "/same.so") << "abc";
    std::ofstream(install + "/edited.so") << "abd";
    std::ofstream(install + "/ResourceCheck.manifest") << kSumOfAbc << "  same.so\n"
                                                       << kSumOfAbc << "  edited.so\n"
                                                       << kSumOfNothing << "  gone.so\n";

    const auto run = testsupport::RunInFolder(folder, Quote(install + "/ResourceCheck"));
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const auto lines = testsupport::ReadLines(folder / "D/ServerLog/ResourceCheck.log");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_THAT(lines[0], HasSubstr("ResourceCheck of " + install + "/"));
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 1, lines.end()),
                ElementsAre("missing: gone.so", "changed: edited.so", "checked 3 files: 1 missing, 1 changed"));
}

TEST(ResourceCheckTest, TheBuiltInstallationMatchesItsManifest) {
    testsupport::TempDir folder;
    const auto run = testsupport::RunInFolder(folder, Quote(plat::ExecutableDir() + "ResourceCheck"));
    EXPECT_EQ(run.exitCode, 0) << testsupport::ReadAll(folder / "D/ServerLog/ResourceCheck.log");
    EXPECT_THAT(testsupport::ReadAll(folder / "D/ServerLog/ResourceCheck.log"),
                HasSubstr("files: 0 missing, 0 changed\n"));
}

TEST(DumpRunEnvironmentInfoTest, AMissingModuleMeansTheInstallationCannotRun) {
    testsupport::TempDir folder;
    std::filesystem::create_directories(folder / "bin");
    std::filesystem::copy_file(plat::ExecutableDir() + "libLognest.so", folder / "bin/libLognest.so");
    std::ofstream(folder / "bin/VarnholtServerd") << "";
    std::filesystem::create_directories(folder / "Config");
    std::ofstream(folder / "Config/Config.ini") << "[VarnholtServer]\nedtGameServerPort = 19003\n";

    const auto run = testsupport::RunInFolder(folder, Quote(plat::ExecutableDir() + "DumpRunEnvironmentInfo") +
                                                          " '/ep:" + folder / "bin/VarnholtServerd" + "' '/LFP:" +
                                                          folder / "EnvInfo.log" + "'");
    EXPECT_EQ(run.exitCode, 3);
    const std::string report = testsupport::ReadAll(folder / "EnvInfo.log");
    EXPECT_THAT(report, HasSubstr("cannot run: module missing: " + folder / "bin/libQXNetService.so\n"));
    EXPECT_THAT(report, MatchesRegex("(.|\n)*libLognest.so: [0-9]+ bytes, modified [-0-9: ]+, build-id [0-9a-f]{40}\n(.|\n)*"));
    EXPECT_THAT(report, HasSubstr("edtGameServerPort = 19003"));
    EXPECT_THAT(run.err, HasSubstr("module missing: " + folder / "bin/libSSCommonLogic.so\n"));
}

TEST(DumpRunEnvironmentInfoTest, AnUnknownArgumentIsAUsageError) {
    testsupport::TempDir folder;
    const auto run = testsupport::RunInFolder(folder, Quote(plat::ExecutableDir() + "DumpRunEnvironmentInfo") +
                                                          " /ep:x /lfp:y /verbose");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("unknown argument /verbose"));
    EXPECT_FALSE(std::filesystem::exists(folder / "y"));
}

}  // namespace
