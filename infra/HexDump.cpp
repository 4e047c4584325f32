#include "infra/HexDump.h"

std::string HexDump(const char* data, int len) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (data == nullptr || len <= 0) return {};
    std::string text(static_cast<size_t>(len) * 3, ' ');
    for (int i = 0; i < len; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        text[static_cast<size_t>(i) * 3] = kDigits[byte >> 4];
        text[static_cast<size_t>(i) * 3 + 1] = kDigits[byte & 0x0F];
    }
    return text;
}

std::string HexDump(std::string_view bytes) {
    return HexDump(bytes.data(), static_cast<int>(bytes.size()));
}
