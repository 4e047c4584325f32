// HexDump: the form in which log lines show raw bytes: every byte as two
// upper-case hexadecimal digits followed by one space, so n bytes give 3n
// characters ending in a space. Pure function, safe from any thread.
#pragma once

#include <string>
#include <string_view>

std::string HexDump(const char* data, int len);
std::string HexDump(std::string_view bytes);
