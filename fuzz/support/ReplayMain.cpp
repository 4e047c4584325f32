// The replay program of a fuzz target: runs LLVMFuzzerTestOneInput once over
// every file of the folders (or the files) named on the command line, so the
// normal build checks every seed and every saved finding without clang. Each
// input sits in a buffer of exactly its size, so a read past its end reaches
// the sanitizers of an ASan build as it would under libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.empty() ? 1 : bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    LLVMFuzzerTestOneInput(exact.get(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <corpus folder or file>...\n", argv[0]);
        return 2;
    }
    int runs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path given(argv[i]);
        std::error_code error;
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(given, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(given, error)) {
                if (entry.is_regular_file(error)) files.push_back(entry.path());
            }
            // A fixed order, so a failing input is the same on every machine.
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(given);
        }
        for (const auto& file : files) {
            if (!RunFile(file)) return 1;
            ++runs;
        }
    }
    if (runs == 0) {
        std::fprintf(stderr, "replay: no input found\n");
        return 1;
    }
    std::printf("replay: %d inputs ran\n", runs);
    return 0;
}
