#include "modules/SSCommonLogic/LogFileList.h"

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <map>

namespace {

std::string LocalTimeText(time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace

std::string ListLogFiles(const std::string& directory) {
    std::map<std::string, std::string> lines;  // sorted by name
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        struct stat info {};
        // lstat: a link is not a log file of this folder.
        if (::lstat(entry.path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        const std::string name = entry.path().filename().string();
        lines[name] = name + " " + std::to_string(info.st_size) + " " + LocalTimeText(info.st_mtime) + "\n";
    }
    std::string text;
    for (const auto& [name, line] : lines) text += line;
    return text;
}
