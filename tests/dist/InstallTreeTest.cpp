// `cmake --install` into a staging root: the tree holds what the unit names,
// the unit passes systemd-analyze, the unit's own seeding commands lay out a
// data root and runtime folder, and the installed daemon starts there with
// every installed file matching the sums taken at build time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/GatewayProcess.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;

constexpr const char* kPrefix = "/opt/varnholt";
constexpr const char* kStateDir = "/var/lib/varnholt";

struct CommandResult {
    int status = -1;
    std::string output;
};

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) result.output.append(buffer, got);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::set<std::string> IniKeys(const std::string& path) {
    std::set<std::string> keys;
    std::istringstream lines(testsupport::ReadAll(path));
    std::string line;
    while (std::getline(lines, line)) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos && line[0] != '[') keys.insert(line.substr(0, equals));
    }
    return keys;
}

void SetIniValue(const std::string& path, const std::string& key, const std::string& value) {
    const std::string text = testsupport::ReadAll(path);
    const std::regex line("(^|\n)" + key + "=[^\n]*");
    std::ofstream(path) << std::regex_replace(text, line, "$1" + key + "=" + value);
}

class InstallTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(stage.Path().empty());
        ASSERT_FALSE(dataRoot.Path().empty());
        const CommandResult install = RunCommand("DESTDIR='" + stage.Path() + "' cmake --install '" +
                                                 VARNHOLT_BUILD_DIR + "' --prefix " + kPrefix);
        ASSERT_EQ(install.status, 0) << install.output;
        tree = stage.Path() + kPrefix;
    }
    void TearDown() override { testsupport::RemoveLeftoverGuards(); }

    // The unit with every installed path moved into the staging root and the
    // state directory into the test's data root.
    std::string StagedUnit() const {
        const std::string unit = testsupport::ReadAll(tree + "/lib/systemd/system/varnholt.service");
        return Replace(Replace(unit, kPrefix, tree), kStateDir, dataRoot.Path());
    }

    testsupport::TempDir stage;
    testsupport::TempDir dataRoot;
    std::string tree;
};

TEST_F(InstallTreeTest, TheUnitVerifiesAndTheTreeItSeedsStartsTheRelay) {
    for (const char* file : {"bin/VarnholtServerd", "bin/libLognest.so", "bin/libQXNetService.so", "bin/varnholtctl",
                             "bin/ResourceCheck.manifest", "lib/sysusers.d/varnholt.conf",
                             "share/varnholt/logrotate/varnholt", "share/varnholt/data-root/C/Boot.ini",
                             "share/varnholt/runtime/Config/Config.ini", "share/varnholt/runtime/script"}) {
        EXPECT_TRUE(std::filesystem::exists(tree + "/" + file)) << file;
    }
    const std::string unit = StagedUnit();
    EXPECT_THAT(unit, HasSubstr("Type=notify"));
    const std::string unitPath = stage / "varnholt.service";
    std::ofstream(unitPath) << unit;
    // verify reports problems as text but still exits 0 for most of them.
    const CommandResult verify = RunCommand("systemd-analyze verify '" + unitPath + "'");
    EXPECT_EQ(verify.status, 0) << verify.output;
    EXPECT_EQ(verify.output, "");

    // What systemd does before ExecStart: the state directories, then the
    // unit's own seeding commands.
    std::filesystem::create_directories(dataRoot / "runtime");
    std::smatch found;
    std::string rest = unit;
    int seeded = 0;
    while (std::regex_search(rest, found, std::regex("ExecStartPre=([^\n]*)"))) {
        const CommandResult seed = RunCommand(found[1].str());
        ASSERT_EQ(seed.status, 0) << found[1].str() << ": " << seed.output;
        ++seeded;
        rest = found.suffix();
    }
    EXPECT_EQ(seeded, 2);
    const std::string settings = dataRoot / "runtime/Config/Config.ini";
    const std::set<std::string> sampleKeys = IniKeys(settings);

    // An operator's edits: the DataServer's port, no StatusServer.
    nettest::LoopbackListener dataServer(0);
    SetIniValue(settings, "edtDataServerPort", std::to_string(dataServer.Port()));
    SetIniValue(settings, "edtSSIP", "");
    for (const char* key : {"edtGameServerPort", "edtLoginServerPort", "edtRouteServerPort"}) {
        SetIniValue(settings, key, std::to_string(testsupport::FreePort()));
    }
    testsupport::GatewayProcess gateway(dataRoot);
    gateway.SetWorkingSubfolder("runtime");
    ASSERT_TRUE(gateway.Start({}, tree + "/bin/VarnholtServerd"));
    auto link = dataServer.Accept(15s);
    ASSERT_NE(link, nullptr) << gateway.Output();
    ASSERT_TRUE(gateway.WaitForLog("Server Start Success!")) << gateway.Output();
    EXPECT_THAT(testsupport::ReadAll(dataRoot / "D/ServerLog/ResourceCheck.log"), HasSubstr("0 missing, 0 changed"));
    // The sample declares every key the daemon declares.
    EXPECT_EQ(IniKeys(settings), sampleKeys);
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitExit(), 0) << gateway.Output();
}

}  // namespace
