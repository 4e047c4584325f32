#include "diag/EnvironmentCheck.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "infra/CommonFunc.h"
#include "infra/Log.h"
#include "platform/ChildProcess.h"
#include "platform/MessageBox.h"
#include "platform/ModuleLoader.h"
#include "platform/WinPath.h"

namespace {

constexpr const char* kDumpTool = "DumpRunEnvironmentInfo.exe";
constexpr const char* kResourceTool = "ResourceCheck.exe";
constexpr const char* kEnvInfoFile = "EnvInfo.log";
// The longest log folder text taken, and the command line's buffer with its
// terminating zero: the bounds the suite's tools were built against.
constexpr size_t kMaxDirectoryText = 259;
constexpr size_t kCommandLineBuffer = 780;

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

// The companion program of that Windows name in the folder.
std::string ToolPath(const std::string& folder, const char* windowsName) {
    return WithSlash(folder) + plat::ProgramFileName(windowsName);
}

bool IsFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// The folder text without its last element: "<root>/D/ServerLog/" gives
// "<root>/D/ServerLog", and "<root>/D/ServerLog" gives "<root>/D".
std::string WithoutLastElement(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// 0 when the folder exists afterwards, otherwise the errno value.
int CreateFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return error.value();
    return std::filesystem::is_directory(folder, error) ? 0 : ENOTDIR;
}

std::string Quoted(const std::string& word) { return "\"" + word + "\""; }

void WaitForOneKey() {
    if (::isatty(STDIN_FILENO) != 1) return;
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) return;
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    char key = 0;
    while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

void TellOperator(const std::string& text) {
    if (plat::HasMessageBoxPresenter()) {
        plat::MessageBoxRequest request;
        request.caption = "Check EvnInfoError";
        request.text = text;
        request.icon = plat::MessageBoxIcon::Error;
        request.topmost = true;
        plat::ShowMessageBox(request);
        return;
    }
    std::fputs("Press any key to exit!\r\n", stdout);
    std::fflush(stdout);
    // Without a terminal there is nobody to press a key: end at once.
    WaitForOneKey();
}

// The log folder the dump tool writes into, created with its parents.
std::string PrepareLogFile(const char* logDirectory) {
    const std::string given = std::string(logDirectory != nullptr ? logDirectory : "").substr(0, kMaxDirectoryText);
    const std::string folder = WithoutLastElement(plat::TranslatePath(given));
    if (const int error = CreateFolder(folder); error != 0) {
        EnvCheckFail(FormatText("Create directory failed, path = %s, last err = %d", folder.c_str(), error));
    }
    return WithSlash(folder) + kEnvInfoFile;
}

std::string ResourceToolFolder(const char* directory) {
    const std::string exeFolder = plat::ExecutableDir();
    if (directory == nullptr || directory[0] == '\0') return exeFolder;
    const std::string translated = plat::TranslatePath(directory);
    if (!translated.empty() && translated.front() == '/') return translated;
    return WithSlash(exeFolder) + translated;
}

}  // namespace

void EnvCheckFail(const std::string& text) {
    GetLog()->LogError("%s", text.c_str());
    TellOperator(text);
    Log_Free();
    std::fflush(nullptr);
    ::_exit(1);
}

void RunEnvironmentDump(const char* logDirectory) {
    envcheck::RunEnvironmentDumpFor(plat::OwnExecutablePath(), logDirectory);
}

namespace envcheck {

void RunEnvironmentDumpFor(const std::string& ownPath, const char* logDirectory) {
    const std::string tool = ToolPath(FolderOf(ownPath), kDumpTool);
    const std::string logFile = PrepareLogFile(logDirectory);
    if (!IsFile(tool)) EnvCheckFail(FormatText("Can't find file: %s", tool.c_str()));

    const std::vector<std::string> arguments = {tool, "/ep:" + ownPath, "/lfp:" + logFile};
    const std::string commandLine = Quoted(arguments[0]) + " " + Quoted(arguments[1]) + " " + Quoted(arguments[2]);
    if (commandLine.size() + 1 > kCommandLineBuffer) {
        EnvCheckFail(FormatText("Format cmdline failed, maybe buff overflow, errno = %d", ERANGE));
    }
    GetLog()->LogInfo("Begin dump environment info!");

    plat::ChildProcess dump;
    if (!dump.Start(tool, arguments)) {
        EnvCheckFail(FormatText("Create DumpApp failed! GetLastError() = %d, CmdLine = %s", dump.Error(), commandLine.c_str()));
    }
    if (!dump.Wait()) EnvCheckFail(FormatText("Get process exit code failed, last err = %d", dump.Error()));
    if (dump.ExitCode() != 0) {
        EnvCheckFail(FormatText("Check environment faild, DumpRunEnvInfo exit code = %d", dump.ExitCode()));
    }
    GetLog()->LogInfo("%s", std::string(91, '-').c_str());
    GetLog()->LogInfo("End dump environment info!");
}

}  // namespace envcheck

void RunResourceCheck(const char* directory) {
    const std::string tool = ToolPath(ResourceToolFolder(directory), kResourceTool);
    if (!IsFile(tool)) {
        GetLog()->LogWarn("Can't find file: %s", tool.c_str());
        return;
    }
    plat::ChildProcess check;
    if (!check.Start(tool, {tool})) {
        GetLog()->LogFatal("Create %s failed! GetLastError() = %d, CmdLine = %s", kResourceTool, check.Error(),
                           tool.c_str());
        // Nothing else is cleaned up, but the reason must reach the file.
        GetLog()->Flush();
        std::fflush(nullptr);
        ::_exit(-1);
    }
    GetLog()->LogInfo("Begin checking file integrity!");
    check.Wait();
    GetLog()->LogInfo("End  checking file integrity!");
}
