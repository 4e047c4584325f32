// The configuration module loaded as the program loads it (CreateConfig of
// the program's proxy, from beside this binary), driven through
// CConfigFileProxy on files in a fresh data root; and the module's value
// readers on their own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "infra/ConfigFileProxy.h"
#include "modules/VexConfig/IniValueParse.h"
#include "platform/WinPath.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::HasSubstr;
using testsupport::ReadAll;
using testsupport::ReadLines;

constexpr const char* kSection = "VarnholtServer";

class VexConfigTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_Dir.Path().empty());
        m_OldCwd = fs::current_path();
        fs::current_path(m_Dir.Path());
        ::setenv(plat::kDataRootVariable, m_Dir.Path().c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv(plat::kDataRootVariable);
        fs::current_path(m_OldCwd);
    }
    void WriteFile(const std::string& relative, const std::string& text) {
        fs::create_directories(fs::path(m_Dir / relative).parent_path());
        std::ofstream(m_Dir / relative) << text;
    }
    // A proxy opened on the file, as window creation opens it.
    CConfigFileProxy Opened(const std::string& windowsName) {
        CConfigFileProxy config;
        EXPECT_TRUE(config.IsValid());
        EXPECT_TRUE(config.Open(windowsName, kSection));
        return config;
    }

    testsupport::TempDir m_Dir;
    fs::path m_OldCwd;
    testsupport::ScopedCapturingLog m_Log;
};

TEST_F(VexConfigTest, FreshFileReceivesTheDeclaredValues) {
    CConfigFileProxy config = Opened("VarnholtServer.ini");
    EXPECT_TRUE(config.WriteString("edtDataServerIP", "127.0.0.1"));
    EXPECT_TRUE(config.WriteInt("edtDataServerPort", 16899));
    EXPECT_TRUE(config.WriteBool("chkRefreshGUI", true));
    EXPECT_TRUE(config.WriteBool("chkEnableWatch", false));
    ASSERT_TRUE(config.Save());

    EXPECT_THAT(ReadLines(m_Dir / "VarnholtServer.ini"),
                ElementsAre("[VarnholtServer]", "edtDataServerIP=127.0.0.1", "edtDataServerPort=16899",
                            "chkRefreshGUI=true", "chkEnableWatch=false"));
    CConfigFileProxy reread = Opened("VarnholtServer.ini");
    EXPECT_EQ(reread.ReadString("edtDataServerIP", ""), "127.0.0.1");
    EXPECT_EQ(reread.ReadInt("edtDataServerPort", 0), 16899);
    EXPECT_TRUE(reread.ReadBool("chkRefreshGUI", false));
    EXPECT_FALSE(reread.ReadBool("chkEnableWatch", true));
    EXPECT_TRUE(m_Log->Entries().empty());
}

TEST_F(VexConfigTest, DeclaringKeepsTheValuesTheFileHolds) {
    WriteFile("VarnholtServer.ini",
              "; operator's settings\r\n[VarnholtServer]\r\nedtDataServerIP=10.1.2.3\r\n"
              "EDTDATASERVERPORT = 17000\r\nchkRefreshGUI=0\r\n[Other]\r\nedtDataServerPort=1\r\n");
    CConfigFileProxy config = Opened("VarnholtServer.ini");
    config.WriteString("edtDataServerIP", "127.0.0.1");
    config.WriteInt("edtDataServerPort", 16899);
    config.WriteBool("chkRefreshGUI", true);
    config.WriteInt("edtSSPort", 21888);
    ASSERT_TRUE(config.Save());

    CConfigFileProxy reread = Opened("VarnholtServer.ini");
    EXPECT_EQ(reread.ReadString("edtDataServerIP", ""), "10.1.2.3");
    EXPECT_EQ(reread.ReadInt("edtDataServerPort", 0), 17000);  // keys compare without case
    EXPECT_FALSE(reread.ReadBool("chkRefreshGUI", true));
    EXPECT_EQ(reread.ReadInt("edtSSPort", 0), 21888);
    const std::string text = ReadAll(m_Dir / "VarnholtServer.ini");
    EXPECT_THAT(text, HasSubstr("; operator's settings"));
    EXPECT_THAT(text, HasSubstr("[Other]"));
}

TEST_F(VexConfigTest, MissingKeyGivesTheReadersFallbackWithoutAWarning) {
    CConfigFileProxy config = Opened("Config\\Config.ini");
    int port = -1;
    EXPECT_TRUE(config.ReadIntChecked("edtSSPort", 0, port));
    EXPECT_EQ(port, 0);
    EXPECT_EQ(config.ReadString("edtSSIP", ""), "");
    EXPECT_EQ(config.ReadInt("edtLoginServerHackAttackValue", 50), 50);
    EXPECT_TRUE(m_Log->Entries().empty());
}

TEST_F(VexConfigTest, SaveCreatesMissingFoldersForTheWindowsRelativePath) {
    CConfigFileProxy config = Opened("Config\\Config.ini");
    config.WriteInt("edtGameServerPort", 19003);
    ASSERT_TRUE(config.Save());
    EXPECT_THAT(ReadLines(m_Dir / "Config/Config.ini"), ElementsAre("[VarnholtServer]", "edtGameServerPort=19003"));
    EXPECT_EQ(std::string(config.Get()->GetFilePath()), "Config/Config.ini");
}

TEST_F(VexConfigTest, DrivePathLivesBelowTheDataRoot) {
    CConfigFileProxy config = Opened("D:\\Gate\\Node.ini");
    config.WriteString("edtMutexSign", "VarnholtServer");
    ASSERT_TRUE(config.Save());
    EXPECT_TRUE(fs::exists(m_Dir / "D/Gate/Node.ini"));
}

TEST_F(VexConfigTest, SaveLeavesNoTemporaryFileAndKeepsThePermissions) {
    WriteFile("VarnholtServer.ini", "[VarnholtServer]\nedtMutexSign=A\n");
    ASSERT_EQ(::chmod((m_Dir / "VarnholtServer.ini").c_str(), 0600), 0);
    CConfigFileProxy config = Opened("VarnholtServer.ini");
    config.WriteString("edtDataServerIP", "127.0.0.1");
    ASSERT_TRUE(config.Save());
    EXPECT_THAT(testsupport::FileNames(m_Dir.Path()), ElementsAre("VarnholtServer.ini"));
    struct stat info {};
    ASSERT_EQ(::stat((m_Dir / "VarnholtServer.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(VexConfigTest, MalformedIntIsReportedWithFileKeyAndValue) {
    WriteFile("Config/Config.ini", "[VarnholtServer]\nedtGameServerPort=19x03\n");
    CConfigFileProxy config = Opened("Config\\Config.ini");
    config.WriteInt("edtGameServerPort", 19003);  // declaring does not repair it
    int port = -1;
    EXPECT_FALSE(config.ReadIntChecked("edtGameServerPort", 0, port));
    EXPECT_EQ(port, 0);
    const std::string problem =
        "Config/Config.ini: [VarnholtServer] edtGameServerPort = \"19x03\" is not a decimal int";
    EXPECT_EQ(config.LastProblem(), problem);
    EXPECT_THAT(m_Log->Texts(llWarn), ElementsAre("CConfigFileProxy::ReadInt  " + problem));
}

TEST_F(VexConfigTest, IntOutsideTheIntRangeIsMalformed) {
    WriteFile("Config/Config.ini", "[VarnholtServer]\nedtRouteServerCount=4294967306\n");
    CConfigFileProxy config = Opened("Config\\Config.ini");
    EXPECT_EQ(config.ReadInt("edtRouteServerCount", 10), 10);
    EXPECT_THAT(config.LastProblem(), HasSubstr("edtRouteServerCount = \"4294967306\""));
}

TEST_F(VexConfigTest, MalformedBoolIsReportedAndAGoodReadClearsTheProblem) {
    WriteFile("Config/Config.ini", "[VarnholtServer]\nchkRefreshGUI=maybe\nchkEnableWatch=Yes\n");
    CConfigFileProxy config = Opened("Config\\Config.ini");
    bool refresh = false;
    EXPECT_FALSE(config.ReadBoolChecked("chkRefreshGUI", true, refresh));
    EXPECT_TRUE(refresh);
    EXPECT_THAT(m_Log->Texts(llWarn),
                ElementsAre("CConfigFileProxy::ReadBool  Config/Config.ini: [VarnholtServer] chkRefreshGUI = "
                            "\"maybe\" is not a bool (true/false, yes/no, 1/0)"));
    bool watch = false;
    EXPECT_TRUE(config.ReadBoolChecked("chkEnableWatch", false, watch));
    EXPECT_TRUE(watch);
    EXPECT_EQ(config.LastProblem(), "");
}

TEST_F(VexConfigTest, ReadStringTextIsOwnedByTheObject) {
    WriteFile("VarnholtServer.ini", "[VarnholtServer]\nedtMutexSign=Gate-1\n");
    CConfigFileProxy config = Opened("VarnholtServer.ini");
    ConfigFile* module = config.Get();
    std::string fallback = "fallback text";
    const char* missing = module->ReadString("nothing", fallback.c_str());
    EXPECT_NE(missing, fallback.c_str());  // a copy, not the caller's buffer
    fallback.assign(fallback.size(), 'x');
    EXPECT_STREQ(missing, "fallback text");
    const char* sign = module->ReadString("edtMutexSign", "");
    EXPECT_STREQ(sign, "Gate-1");
}

TEST_F(VexConfigTest, UnreadableFileIsNeverSavedOver) {
    fs::create_directories(m_Dir / "Config/Config.ini");  // a folder where the file should be
    CConfigFileProxy config;
    EXPECT_FALSE(config.Open("Config\\Config.ini", kSection));
    EXPECT_THAT(config.LastProblem(), HasSubstr("Config/Config.ini: cannot be read"));
    config.WriteInt("edtGameServerPort", 19003);
    EXPECT_FALSE(config.Save());
    EXPECT_TRUE(fs::is_directory(m_Dir / "Config/Config.ini"));
    EXPECT_EQ(m_Log->Texts(llWarn).size(), 2u);  // Open and Save each say why
}

TEST_F(VexConfigTest, TextALineCannotHoldIsNotWritten) {
    CConfigFileProxy config = Opened("VarnholtServer.ini");
    // A line break would start a key of its own; blanks would be dropped.
    EXPECT_FALSE(config.WriteString("edtDataServerIP", "127.0.0.1\nedtSSIP=10.0.0.9"));
    EXPECT_THAT(config.LastProblem(), HasSubstr("would not read back the same"));
    EXPECT_FALSE(config.WriteString("edtMutexSign", " VarnholtServer"));
    EXPECT_FALSE(config.WriteString("edt=Port", "1"));
    EXPECT_FALSE(config.WriteString(";edtPort", "1"));
    EXPECT_TRUE(config.WriteString("edtSSPort", "21888"));
    ASSERT_TRUE(config.Save());

    CConfigFileProxy reread = Opened("VarnholtServer.ini");
    EXPECT_EQ(reread.ReadString("edtDataServerIP", "(none)"), "(none)");
    EXPECT_EQ(reread.ReadString("edtSSIP", "(none)"), "(none)");
    EXPECT_EQ(reread.ReadString("edtMutexSign", "(none)"), "(none)");
    EXPECT_EQ(reread.ReadString("edtSSPort", ""), "21888");
}

TEST_F(VexConfigTest, KeyStartingWithTheUtf8SignatureSurvivesASave) {
    WriteFile("VarnholtServer.ini", "[VarnholtServer]\nkey=1\n");
    CConfigFileProxy config;
    ASSERT_TRUE(config.Open("VarnholtServer.ini", ""));
    EXPECT_TRUE(config.WriteString("\xEF\xBB\xBFkey", "2"));
    ASSERT_TRUE(config.Save());

    CConfigFileProxy reread;
    ASSERT_TRUE(reread.Open("VarnholtServer.ini", ""));
    EXPECT_EQ(reread.ReadString("\xEF\xBB\xBFkey", ""), "2");
}

TEST_F(VexConfigTest, OperationsBeforeOpenFail) {
    CConfigFileProxy config;
    EXPECT_FALSE(config.WriteInt("edtSSPort", 1));
    EXPECT_FALSE(config.Save());
    EXPECT_EQ(config.ReadInt("edtSSPort", 7), 7);
}

TEST(IniValueParseTest, IntsAreDecimalWithinRange) {
    EXPECT_EQ(vexconfig::ParseIniInt("19003"), 19003);
    EXPECT_EQ(vexconfig::ParseIniInt(" -5 "), -5);
    EXPECT_EQ(vexconfig::ParseIniInt("+7"), 7);
    EXPECT_EQ(vexconfig::ParseIniInt("2147483647"), 2147483647);
    EXPECT_EQ(vexconfig::ParseIniInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(vexconfig::ParseIniInt("2147483648"), std::nullopt);
    EXPECT_EQ(vexconfig::ParseIniInt("19x03"), std::nullopt);
    EXPECT_EQ(vexconfig::ParseIniInt("0x10"), std::nullopt);
    EXPECT_EQ(vexconfig::ParseIniInt(""), std::nullopt);
    EXPECT_EQ(vexconfig::ParseIniInt("+"), std::nullopt);
    EXPECT_EQ(vexconfig::ParseIniInt("+-1"), std::nullopt);
    EXPECT_EQ(vexconfig::ParseIniInt("1 2"), std::nullopt);
}

TEST(IniValueParseTest, BoolsAreTheSixWordsInAnyCase) {
    for (const char* yes : {"true", "TRUE", "Yes", "1", " true "}) EXPECT_EQ(vexconfig::ParseIniBool(yes), true) << yes;
    for (const char* no : {"false", "No", "0", "FALSE"}) EXPECT_EQ(vexconfig::ParseIniBool(no), false) << no;
    for (const char* bad : {"", "2", "on", "t", "yess", "maybe"}) {
        EXPECT_EQ(vexconfig::ParseIniBool(bad), std::nullopt) << bad;
    }
}

}  // namespace
