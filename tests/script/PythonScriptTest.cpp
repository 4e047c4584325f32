// Scenarios of the embedded engine against real script files. Python can be
// started only once per process, so one environment creates the engine in a
// temporary runtime folder (with its script/ folder) for every test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <regex>
#include <thread>

#include "script/PythonLock.h"
#include "script/PythonScriptEx.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/TestFiles.h"

namespace {

const char* const kScripts[][2] = {
    {"Broken.py", "raise RuntimeError('boom at import')\n"},
    {"Status.py", "def Known():\n    return 'known'\n\n\ndef Twice(value):\n    return value * 2\n"},
    {"Counter.py", "def Value():\n    return 1\n"},
    {"PyGameData.py", "def Value():\n    return 1\n"},
    {"Deep.py", "def Inner():\n    raise ValueError('deep fault')\n\n\ndef ServerStatusOnCommand():\n    return Inner()\n"},
    {"Talk.py",
     "import LogUI\n\n\ndef Say(text):\n    return LogUI.Msg(text)\n\n\ndef SayWrong():\n    try:\n"
     "        LogUI.Msg(1, 2)\n    except TypeError:\n        return 'refused'\n"},
    {"Probe.py", "def Ask():\n    import _Probe\n    return _Probe.Answer()\n"},
};

class ScriptEnvironment : public ::testing::Environment {
public:
    static inline testsupport::CapturingLog* log = nullptr;
    static inline std::string scriptFolder;
    static inline bool startedWithTrackOff = false;

    void SetUp() override {
        m_Log = std::make_unique<testsupport::ScopedCapturingLog>();
        log = &**m_Log;
        m_Root = std::make_unique<testsupport::TempDir>();
        scriptFolder = *m_Root / "script";
        std::filesystem::create_directory(scriptFolder);
        for (const auto& script : kScripts) std::ofstream(scriptFolder + "/" + script[0]) << script[1];
        m_OldFolder = std::filesystem::current_path();
        std::filesystem::current_path(m_Root->Path());
        GetPythonScript();
        startedWithTrackOff = log->Has(llInfo, "CPythonScriptEx::EnableTrack(0) OK");
    }
    void TearDown() override {
        ReleasePythonScript();
        std::filesystem::current_path(m_OldFolder);
        m_Root.reset();
        m_Log.reset();
    }

private:
    std::unique_ptr<testsupport::ScopedCapturingLog> m_Log;
    std::unique_ptr<testsupport::TempDir> m_Root;
    std::filesystem::path m_OldFolder;
};

[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ScriptEnvironment);

// Calls a script function and gives str() of the result, "<null>" on failure.
std::string CallText(const std::string& file, const std::string& function, PyObject* args = nullptr) {
    PythonLock lock;
    PyRef result(GetPythonScript()->CallFunctionTakingArgs(file, function, args));
    PyRef text(result ? PyObject_Str(result.Get()) : nullptr);
    return text ? PyUnicode_AsUTF8(text.Get()) : "<null>";
}

PyObject* TextArgs(const char* text) {
    PythonLock lock;
    return Py_BuildValue("(s)", text);
}

class PythonScriptTest : public ::testing::Test {
protected:
    void SetUp() override { log.Clear(); }
    void Rewrite(const std::string& name, const std::string& text) {
        const std::string path = ScriptEnvironment::scriptFolder + "/" + name;
        std::ofstream(path) << text;
        // Python trusts a cached compile with the same size and second.
        std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(5));
    }
    std::vector<std::string> Errors() const { return log.Texts(llPyWarn); }

    CPythonScriptEx& engine = *GetPythonScript();
    testsupport::CapturingLog& log = *ScriptEnvironment::log;
};

TEST_F(PythonScriptTest, FailedImportLeavesEntryAndCallReportsCanNotFindFileWithoutRetry) {
    EXPECT_FALSE(engine.LoadFromFile("Broken.py"));
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_NE(Errors()[0].find("Error Message:\r\nRuntimeError:boom at import"), std::string::npos);
    log.Clear();
    EXPECT_EQ(CallText("Broken.py", "Anything"), "<null>");
    EXPECT_EQ(Errors(), std::vector<std::string>{"Can Not Find File!"});
}

TEST_F(PythonScriptTest, MissingFunctionReportsThenListsEveryModuleKey) {
    ASSERT_EQ(CallText("Status.py", "Known"), "known");
    log.Clear();
    EXPECT_EQ(CallText("Status.py", "NoSuch"), "<null>");
    const auto errors = Errors();
    Py_ssize_t keyCount = 0;
    {
        PythonLock lock;
        keyCount = PyDict_Size(engine.FindModuleEntry("Status.py")->dictionary);
    }
    ASSERT_EQ(errors.size(), static_cast<size_t>(keyCount) + 1);
    EXPECT_EQ(errors[0], "Function : NoSuch Run Fail : NoError Or Unknown");
    EXPECT_NE(std::find(errors.begin(), errors.end(), "__builtins__"), errors.end());
    EXPECT_NE(std::find(errors.begin(), errors.end(), "Twice"), errors.end());
}

TEST_F(PythonScriptTest, LoadingAgainReloadsChangedScriptButNeverGameData) {
    ASSERT_EQ(CallText("Counter.py", "Value"), "1");
    ASSERT_EQ(CallText("PyGameData.py", "Value"), "1");
    Rewrite("Counter.py", "def Value():\n    return 22\n");
    Rewrite("PyGameData.py", "def Value():\n    return 22\n");
    engine.Output("Test", "bump", false);
    EXPECT_TRUE(engine.LoadFromFile("Counter.py"));
    EXPECT_EQ(engine.GetMessageNumber(), 0);
    EXPECT_EQ(CallText("Counter.py", "Value"), "22");
    EXPECT_TRUE(engine.LoadFromFile("PyGameData.py"));
    EXPECT_TRUE(log.Has(llInfo, "PyGameData.py no reload !!!"));
    EXPECT_EQ(CallText("PyGameData.py", "Value"), "1");
}

TEST_F(PythonScriptTest, ErrorTextListsTracebackOutermostFirst) {
    EXPECT_EQ(CallText("Deep.py", "ServerStatusOnCommand"), "<null>");
    const std::string file = ScriptEnvironment::scriptFolder + "/Deep.py";
    EXPECT_EQ(Errors(), std::vector<std::string>{"Error Message:\r\nValueError:deep fault\r\nTraceback:\r\n"
                                                 "ServerStatusOnCommand: " + file + "(# 6)\r\n"
                                                 "Inner: " + file + "(# 2)\r\n"});
    EXPECT_EQ(engine.GetErrorText(), "NoError Or Unknown");
}

TEST_F(PythonScriptTest, RegistryIgnoresLetterCase) {
    ASSERT_TRUE(engine.LoadFromFile("Status.py"));
    tagModuleDict* entry = engine.FindModuleEntry("status.py");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(engine.FindModuleEntry("STATUS.PY"), entry);
    EXPECT_EQ(CallText("sTaTuS.py", "Known"), "known");
    EXPECT_TRUE(Errors().empty());
}

TEST_F(PythonScriptTest, LogUiMsgWritesAlertAndReturnsTextButIgnoresWrongArguments) {
    EXPECT_EQ(CallText("Talk.py", "Say", TextArgs("hello %d")), "hello %d");
    EXPECT_EQ(log.Texts(llNomal), std::vector<std::string>{"hello %d"});
    EXPECT_TRUE(std::regex_match(engine.GetMessageList().back(),
                                 std::regex(R"(\[Alert\]\[#\d+ \d\d:\d\d:\d\d\] : hello %d)")));
    log.Clear();
    EXPECT_EQ(CallText("Talk.py", "SayWrong"), "refused");
    EXPECT_TRUE(log.Entries().empty());
}

TEST_F(PythonScriptTest, TrackSwitchRoutesTraceLinesToListOrLogVerbatim) {
    EXPECT_TRUE(ScriptEnvironment::startedWithTrackOff);
    EXPECT_TRUE(engine.EnableTrack(true));
    engine.TraceOutput("line %d one");
    EXPECT_EQ(engine.GetTrackList(), std::vector<std::string>{"line %d one"});
    EXPECT_EQ(log.CountContaining("line %d one"), 0);
    EXPECT_FALSE(engine.EnableTrack(false));
    EXPECT_TRUE(engine.GetTrackList().empty());
    engine.TraceOutput("rate 100%d %s");
    EXPECT_TRUE(engine.GetTrackList().empty());
    EXPECT_TRUE(log.Has(llInfo, "rate 100%d %s"));
    EXPECT_TRUE(log.Has(llInfo, "CPythonScriptEx::EnableTrack(1) OK"));
    EXPECT_TRUE(log.Has(llInfo, "CPythonScriptEx::EnableTrack(0) OK"));
}

TEST_F(PythonScriptTest, SecondThreadCallsAfterStartUpThreadBuiltTheEngine) {
    std::promise<std::string> answer;
    auto result = answer.get_future();
    std::thread([&answer] {
        PyObject* args = nullptr;
        {
            PythonLock lock;
            args = Py_BuildValue("(i)", 21);
        }
        answer.set_value(CallText("Status.py", "Twice", args));
    }).detach();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "interpreter lock held";
    EXPECT_EQ(result.get(), "42");
    EXPECT_EQ(CallText("Status.py", "Known"), "known");
}

PyObject* Answer(PyObject*, PyObject*) { return PyLong_FromLong(42); }
PyMethodDef g_ProbeMethods[] = {{"Answer", &Answer, METH_VARARGS, nullptr}, {nullptr, nullptr, 0, nullptr}};
PyModuleDef g_ProbeModule = {PyModuleDef_HEAD_INIT, "_Probe", nullptr, -1, g_ProbeMethods,
                             nullptr, nullptr, nullptr, nullptr};
PyObject* InitProbe() { return PyModule_Create(&g_ProbeModule); }

TEST_F(PythonScriptTest, BuiltinModuleInstalledAfterStartIsImportable) {
    ASSERT_TRUE(CPythonScript::RegisterBuiltinModule("_Probe", &InitProbe));
    EXPECT_EQ(CallText("Probe.py", "Ask"), "42");
}

TEST_F(PythonScriptTest, OwnFolderWarningOnlyForScriptInFolderOfItsName) {
    engine.LoadFromFile("scripts\\Nested\\Nested.py");
    EXPECT_EQ(log.CountContaining("文件 scripts\\Nested\\Nested.py 读取有可能失败"), 1);
    log.Clear();
    engine.LoadFromFile("Status.py");
    EXPECT_EQ(log.CountContaining("读取有可能失败"), 0);
}

TEST_F(PythonScriptTest, MessageListClearedWhenAboveLimit) {
    while (engine.GetMessageList().size() < 10001) engine.Output("Fill", "x", false);
    engine.Output("Fill", "last", false);
    ASSERT_EQ(engine.GetMessageList().size(), 1u);
    EXPECT_NE(engine.GetMessageList()[0].find("] : last"), std::string::npos);
}

}  // namespace
