// The ini reader (CIniConfigFile, the VexConfig module's ConfigFile) on
// arbitrary files.
//
// Input: section NUL key NUL value NUL, then the file's bytes (a missing
// field is empty). The file is written to disk and read through Open, as
// the gateway reads its settings. What must hold:
//  - any file opens (nothing in a readable file makes it unreadable);
//  - a key reads the same through ReadString, HasKey, ReadInt and ReadBool,
//    and the number readers agree with the strict value parsers;
//  - a key the file lacks, once written, reads back its value, and after
//    Save and a fresh Open it still does, while the keys the file had keep
//    their values (a written value never spills into other keys).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/support/FuzzCheck.h"
#include "modules/VexConfig/IniConfigFile.h"
#include "modules/VexConfig/IniValueParse.h"

namespace {

struct Fields {
    std::string section;
    std::string key;
    std::string value;
    std::string file;
};

Fields Split(const uint8_t* data, size_t size) {
    Fields fields;
    std::string* fieldsInOrder[] = {&fields.section, &fields.key, &fields.value};
    size_t at = 0;
    for (std::string* field : fieldsInOrder) {
        const void* end = at < size ? std::memchr(data + at, '\0', size - at) : nullptr;
        if (end == nullptr) {
            field->assign(reinterpret_cast<const char*>(data) + at, size - at);
            return fields;
        }
        const size_t stop = static_cast<size_t>(static_cast<const uint8_t*>(end) - data);
        field->assign(reinterpret_cast<const char*>(data) + at, stop - at);
        at = stop + 1;
    }
    fields.file.assign(reinterpret_cast<const char*>(data) + at, size - at);
    return fields;
}

// One folder per process, so parallel fuzzing jobs do not share files. Save
// syncs the file to disk; on a memory file system that costs nothing, which
// keeps the run at parsing speed.
struct ScratchFolder {
    std::string path;
    ~ScratchFolder() {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
};

const std::string& WorkFolder() {
    static const ScratchFolder folder{[] {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        const std::filesystem::path path = base / ("varnholt-fuzz-ini-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path.string();
    }()};
    return folder.path;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(out != nullptr);
    FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size());
    std::fclose(out);
}

// The keys a test asks for: the input's own key and the keys the file
// seems to hold (text before '=' on each line), at most a few.
std::vector<std::string> ProbeKeys(const Fields& fields) {
    std::vector<std::string> keys{fields.key};
    size_t start = 0;
    while (start < fields.file.size() && keys.size() < 8) {
        size_t end = fields.file.find('\n', start);
        if (end == std::string::npos) end = fields.file.size();
        const std::string line = fields.file.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string::npos && equals > 0) keys.push_back(line.substr(0, equals));
        start = end + 1;
    }
    return keys;
}

struct KeyState {
    bool present = false;
    std::string text;
};

void CheckReaders(CIniConfigFile& config, const std::string& key, const KeyState& state) {
    if (key.find('\0') != std::string::npos) return;
    FUZZ_CHECK(config.HasKey(key.c_str()) == state.present);
    FUZZ_CHECK(config.ReadString(key.c_str(), "\x01" "default") ==
               (state.present ? state.text : std::string("\x01" "default")));
    const int number = config.ReadInt(key.c_str(), -77);
    const bool badValue = config.GetLastError()[0] != '\0';
    if (!state.present) {
        FUZZ_CHECK(number == -77 && !badValue);
    } else if (const auto parsed = vexconfig::ParseIniInt(state.text)) {
        FUZZ_CHECK(number == *parsed && !badValue);
    } else {
        FUZZ_CHECK(number == -77 && badValue);
    }
    const bool flag = config.ReadBool(key.c_str(), true);
    if (state.present) {
        const auto parsed = vexconfig::ParseIniBool(state.text);
        FUZZ_CHECK(flag == parsed.value_or(true));
        FUZZ_CHECK((config.GetLastError()[0] != '\0') == !parsed.has_value());
    }
}

KeyState Read(CIniConfigFile& config, const std::string& key) {
    KeyState state;
    if (key.find('\0') != std::string::npos) return state;
    state.present = config.HasKey(key.c_str());
    if (state.present) state.text = config.ReadString(key.c_str(), "");
    return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Fields fields = Split(data, size);
    const std::string path = WorkFolder() + "/Config.ini";
    WriteFile(path, fields.file);

    const std::vector<std::string> keys = ProbeKeys(fields);
    std::vector<KeyState> before;
    {
        CIniConfigFile config;
        FUZZ_CHECK(config.Open(path.c_str(), fields.section.c_str()));
        for (const std::string& key : keys) {
            before.push_back(Read(config, key));
            CheckReaders(config, key, before.back());
        }

        // Write the input's key when the file lacks it: it must read back
        // at once, and the other keys must not change.
        const bool fresh = !fields.key.empty() && !before[0].present;
        if (fresh && config.WriteString(fields.key.c_str(), fields.value.c_str())) {
            const KeyState written{true, fields.value};
            for (size_t i = 0; i < keys.size(); ++i) {
                // Only the written key (in whatever case the file spells it) changes.
                const KeyState now = Read(config, keys[i]);
                if (i == 0) FUZZ_CHECK(now.present && now.text == written.text);
                if (now.present != before[i].present || now.text != before[i].text) {
                    FUZZ_CHECK(!before[i].present && now.present && now.text == written.text);
                }
                before[i] = now;
            }
        }
        for (size_t i = 0; i < keys.size(); ++i) CheckReaders(config, keys[i], before[i]);
        FUZZ_CHECK(config.Save());
    }

    CIniConfigFile reopened;
    FUZZ_CHECK(reopened.Open(path.c_str(), fields.section.c_str()));
    for (size_t i = 0; i < keys.size(); ++i) {
        const KeyState after = Read(reopened, keys[i]);
        FUZZ_CHECK(after.present == before[i].present);
        FUZZ_CHECK(after.text == before[i].text);
    }
    std::error_code error;
    std::filesystem::remove(path, error);
    return 0;
}
