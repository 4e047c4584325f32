// ResourceCheck: compares the installed files beside it with
// ResourceCheck.manifest and writes the differences into ResourceCheck.log in
// the log folder. Exit code 0 when every file matches, 1 when some differ,
// 2 when the check could not be made (no manifest, no log file).
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/ModuleLoader.h"
#include "platform/WinPath.h"
#include "tools/ResourceCheck/IntegrityReport.h"
#include "tools/ResourceCheck/Manifest.h"

namespace {

constexpr int kAllGood = 0;
constexpr int kDifferences = 1;
constexpr int kCannotCheck = 2;

std::string NowText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string LogFilePath() {
    const std::string folder = plat::TranslatePath("D:\\ServerLog\\");
    plat::EnsureDirectory(folder);
    return folder + "ResourceCheck.log";
}

}  // namespace

int main() {
    const std::string logPath = LogFilePath();
    std::ofstream log(logPath, std::ios::trunc);
    if (!log) {
        std::fprintf(stderr, "ResourceCheck: cannot write %s\n", logPath.c_str());
        return kCannotCheck;
    }
    const std::string folder = plat::ExecutableDir();
    log << NowText() << " ResourceCheck of " << folder << "\n";

    std::ifstream manifestFile(folder + resourcecheck::kManifestFileName);
    if (!manifestFile) {
        log << "no manifest: " << folder << resourcecheck::kManifestFileName << "\n";
        return kCannotCheck;
    }
    const std::string text((std::istreambuf_iterator<char>(manifestFile)), std::istreambuf_iterator<char>());
    int badLine = 0;
    const auto manifest = resourcecheck::ParseManifest(text, &badLine);
    if (!manifest) {
        log << "manifest line " << badLine << " is not \"<sha256>  <file name>\"\n";
        return kCannotCheck;
    }
    const resourcecheck::IntegrityResult result = resourcecheck::CheckFolder(folder, *manifest);
    resourcecheck::WriteReport(log, result);
    return result.Clean() ? kAllGood : kDifferences;
}
