#include "ShareDefine/NetErrorText.h"

#include <cstring>

std::string NetErrorText(uint32_t code) {
    if (code == 0) return "no error";
    char buffer[256];
    // GNU strerror_r: returns the message, which may or may not live in buffer.
    return strerror_r(static_cast<int>(code), buffer, sizeof(buffer));
}
