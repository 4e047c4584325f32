#include "WinPath.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace plat {

std::string DataRoot() {
    const char* root = std::getenv(kDataRootVariable);
    if (root != nullptr && root[0] != '\0') return root;
    std::error_code error;
    const auto cwd = std::filesystem::current_path(error);
    return error ? std::string(".") : cwd.string();
}

std::string TranslatePath(const std::string& windowsPath) {
    std::string path = windowsPath;
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    const bool hasDrive = path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
    if (!hasDrive) return path;

    const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    std::string rest = path.substr(2);
    while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
    std::string root = DataRoot();
    if (root.empty() || root.back() != '/') root += '/';
    return root + drive + "/" + rest;
}

bool EnsureDirectory(const std::string& path) {
    if (path.empty()) return false;
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

std::string ProgramFileName(const std::string& windowsName) {
    constexpr std::string_view kExtension = ".exe";
    if (windowsName.size() <= kExtension.size()) return windowsName;
    const size_t stem = windowsName.size() - kExtension.size();
    for (size_t i = 0; i < kExtension.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(windowsName[stem + i])) != kExtension[i]) return windowsName;
    }
    return windowsName.substr(0, stem);
}

}  // namespace plat
