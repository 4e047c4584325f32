// Test helpers for files and processes: a fresh temporary folder per test,
// reading files back, and running a program in a folder of its own.
// Test-only, single-threaded use.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testsupport {

// A new empty folder below the system temp folder, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "varnholt-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) m_Path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!m_Path.empty()) std::filesystem::remove_all(m_Path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_Path; }
    // path below the folder, joined with '/'
    std::string operator/(const std::string& relative) const { return m_Path + "/" + relative; }

private:
    std::string m_Path;
};

inline std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// File names in a folder, sorted.
inline std::vector<std::string> FileNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The text of a log line: what follows "[<level>] [<thread>] ".
inline std::string LineText(const std::string& line) {
    const auto levelEnd = line.find("] [");
    if (levelEnd == std::string::npos) return {};
    const auto threadEnd = line.find("] ", levelEnd + 3);
    return threadEnd == std::string::npos ? std::string() : line.substr(threadEnd + 2);
}

// How often a text occurs in another (non-overlapping).
inline int CountOf(const std::string& text, const std::string& fragment) {
    int count = 0;
    for (size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + fragment.size())) {
        ++count;
    }
    return count;
}

struct RunResult {
    int exitCode = -1;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `commandLine` (a shell command) with the folder as working directory
// and data root, capturing standard output and standard error.
inline RunResult RunInFolder(const TempDir& folder, const std::string& commandLine) {
    const std::string command = "cd '" + folder.Path() + "' && VARNHOLT_DATA_ROOT='" + folder.Path() + "' " +
                                commandLine + " >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    RunResult result;
    if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.out = ReadAll(folder / "out.txt");
    result.err = ReadAll(folder / "err.txt");
    return result;
}

}  // namespace testsupport
