// InfoCatalog: what the numbers in a base-information reply mean to an
// operator: a name for every info id the gateway sends, the group names of
// the info key, and which values came from signed 32-bit sources (so a -1
// shows as -1, not as 18446744073709551615). Constant tables, any thread.
#pragma once

#include <cstdint>
#include <string>

namespace varnstatus {

// Ids 0-37 are the network service's statistics under their own labels
// ("Max Client" .. "POST_ACCEPT_ERR_COUNT"). Ids 97-99 name different
// figures for the DataServer link (group 1) than for a connection, hence
// the group. Unknown ids give an empty string.
std::string InfoName(uint32_t id, uint32_t group);

// "process", "DataServer", "LoginServer", "GameServer", "RouteServer";
// empty for a group the gateway does not use.
std::string GroupName(uint32_t group);

// True for ids whose 32-bit source the gateway widens with its sign.
bool IsSignedInfo(uint32_t id);

inline constexpr uint32_t kStatisticCount = 38;

}  // namespace varnstatus
