#include "ShareDefine/ServerCommon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "infra/Log.h"
#include "platform/MessageBox.h"
#include "platform/ModuleLoader.h"
#include "platform/Tick.h"
#include "platform/WinPath.h"

namespace {

// The system's Windows folder as the Windows side of the suite sees it.
constexpr const char* kWindowsDirectory = "C:\\Windows";
constexpr const char* kOptInSwitch = "/noexecute=optin";
constexpr uint32_t kDayMs = 86400000u;
constexpr uint32_t kTwoDaysMs = 172800000u;

// The Windows folder's parent with its trailing separator, then "Boot.ini"
// appended as is: a Windows folder directly under a drive's root gives the
// drive's root, which is where the loader keeps the file.
std::string BootIniPath() {
    const std::string windows = kWindowsDirectory;
    const size_t cut = windows.find_last_of("\\/");
    const std::string parent = cut == std::string::npos ? std::string() : windows.substr(0, cut + 1);
    return plat::TranslatePath(parent + "Boot.ini");
}

bool IsFile(const std::string& path) {
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The whole file, or the reason it could not be read.
std::optional<std::string> ReadWholeFile(const std::string& path, std::string& failure) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        failure = "Cannot open file \"" + path + "\". " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            failure = "Read error on file \"" + path + "\". " + std::strerror(errno);
            ::close(fd);
            return std::nullopt;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return text;
}

bool SelectsOptIn(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text.find(kOptInSwitch) != std::string::npos;
}

// True when the operator chose to go on although DEP is not in opt-in mode.
bool AskContinueWithDep() {
    plat::MessageBoxRequest request;
    request.caption = "Close Ask";
    request.text =
        "DEP Is Activate, Server May Not Run Normally! Continue Run?\n"
        "系统DEP已启用,服务器可能不能正常运行!是否继续运行?\n"
        "[My Computer->Propertise->Advaced->Performance Settings->Data Excution Prevention. Choose First!]";
    request.buttons = plat::MessageBoxButtons::OkCancel;
    return plat::ShowMessageBox(request);
}

std::string RunTimeWarning(int days) {
    char text[512];
    std::snprintf(text, sizeof(text),
                  "---Tarn Server Max RunTime = 24 Days---!\n"
                  "Server Already Run %d Days, Need To Restart Windows To Run Safely!\n"
                  "服务器已经运行了 %d 天, 需要重启Windows之后才可以正常运行!\n"
                  "服務器已經運行了 %d 天, 需要重啟Windows之后才可以正常運行!",
                  days, days, days);
    return text;
}

}  // namespace

bool DEPCheck() {
    GetLog()->LogInfo("DEPCheck()");
    const std::string bootIni = BootIniPath();
    if (!IsFile(bootIni)) {
        plat::ShowMessage("Can't Find Dir : " + bootIni);
        return false;
    }
    std::string failure;
    const std::optional<std::string> text = ReadWholeFile(bootIni, failure);
    if (!text) {
        // A file that exists but cannot be read says nothing either way.
        plat::ShowMessage(failure);
    } else if (!SelectsOptIn(*text) && !AskContinueWithDep()) {
        return false;
    }
    return ServerRunTimeCheck();
}

bool ServerRunTimeCheck() { return ServerRunTimeCheck(plat::GetTickMs()); }

bool ServerRunTimeCheck(uint32_t uptimeMs) {
    GetLog()->LogInfo("ServerRunTimeCheck()");
    // The sum read as a signed 32-bit number is zero or negative from two
    // days before the tick passes 2^31 ms until the 32-bit tick wraps, which
    // is exactly the span in which interval arithmetic on it is at risk.
    const auto margin = static_cast<int32_t>(uptimeMs + kTwoDaysMs);
    if (margin > 0) return true;
    const uint32_t days = uptimeMs / kDayMs + 1;
    plat::ShowMessage(RunTimeWarning(static_cast<int>(days)));
    return true;
}

bool MarkerFileExistsIn(const std::string& directory) {
    std::string path = directory;
    if (!path.empty() && path.back() != '/') path += '/';
    return ::access((path + kMarkerFileName).c_str(), F_OK) == 0;
}

bool MarkerFileExists() {
    static const bool exists = MarkerFileExistsIn(plat::ExecutableDir());
    return exists;
}
