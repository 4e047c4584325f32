#include "modules/VexConfig/IniValueParse.h"

#include <cctype>
#include <charconv>
#include <string>

namespace vexconfig {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

bool EqualsNoCase(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
    }
    return true;
}

}  // namespace

std::optional<int> ParseIniInt(std::string_view text) {
    text = Trim(text);
    // from_chars takes '-' but no '+'; after a '+' only digits may follow.
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front()))) return std::nullopt;
    }
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, 10);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<bool> ParseIniBool(std::string_view text) {
    text = Trim(text);
    if (EqualsNoCase(text, "true") || EqualsNoCase(text, "yes") || text == "1") return true;
    if (EqualsNoCase(text, "false") || EqualsNoCase(text, "no") || text == "0") return false;
    return std::nullopt;
}

}  // namespace vexconfig
