#include "infra/SourceLocation.h"

#include <cstdio>
#include <string_view>

std::string LocationText(const std::source_location& where) {
    std::string_view file = where.file_name();
    constexpr std::string_view kRoot = VARNHOLT_SOURCE_ROOT "/";
    if (file.substr(0, kRoot.size()) == kRoot) file.remove_prefix(kRoot.size());
    char text[512];
    std::snprintf(text, sizeof(text), "%.*s : %d", static_cast<int>(file.size()), file.data(),
                  static_cast<int>(where.line()));
    return text;
}
