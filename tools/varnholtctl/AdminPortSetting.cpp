#include "tools/varnholtctl/AdminPortSetting.h"

#include <strings.h>

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/WinPath.h"

namespace varnholtctl {

namespace {

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool SameName(std::string_view a, const char* b) {
    return a.size() == std::char_traits<char>::length(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

}  // namespace

std::string AdminPortSetting::DefaultPath() {
    std::string root = plat::DataRoot();
    if (!root.empty() && root.back() != '/') root += '/';
    return root + "Config/Config.ini";
}

std::optional<int> AdminPortSetting::Parse(std::string_view iniText) {
    bool inSection = false;
    while (!iniText.empty()) {
        const size_t end = iniText.find('\n');
        const std::string_view line = Trim(iniText.substr(0, end));
        iniText = end == std::string_view::npos ? std::string_view() : iniText.substr(end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            inSection = close != std::string_view::npos && SameName(Trim(line.substr(1, close - 1)), kSection);
            continue;
        }
        const size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos || !SameName(Trim(line.substr(0, equals)), kKey)) continue;
        const std::string_view value = Trim(line.substr(equals + 1));
        int port = 0;
        const auto [at, error] = std::from_chars(value.data(), value.data() + value.size(), port);
        if (error != std::errc() || at != value.data() + value.size()) return std::nullopt;
        return port;
    }
    return std::nullopt;
}

std::optional<int> AdminPortSetting::Read(const std::string& path, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    std::stringstream text;
    text << file.rdbuf();
    const std::optional<int> port = Parse(text.str());
    if (!port) error = std::string(kKey) + " is missing or not a number in " + path;
    return port;
}

}  // namespace varnholtctl
