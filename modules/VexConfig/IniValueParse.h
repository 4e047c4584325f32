// Strict readers for the value texts of an ini file. A value either has
// exactly the expected form or is rejected: "19x03" is not a port, and an
// unknown word is not a bool. Pure functions, safe on any thread.
#pragma once

#include <optional>
#include <string_view>

namespace vexconfig {

// Decimal, optional sign, within the int range; blanks around it allowed.
std::optional<int> ParseIniInt(std::string_view text);
// true/false, yes/no, 1/0 in any case; blanks around it allowed.
std::optional<bool> ParseIniBool(std::string_view text);

}  // namespace vexconfig
