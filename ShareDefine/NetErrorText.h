// The system's message for a socket error code, as send-failure log lines
// show it ("Connection reset by peer"). 0 reads as "no error".
#pragma once

#include <cstdint>
#include <string>

std::string NetErrorText(uint32_t code);
