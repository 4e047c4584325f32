// The status commands the gateway answers itself: the common command
// "GetErrorLog", which sends back one file of the log directory compressed
// with zlib, and the reply helper every common-command answer uses. They run
// on the status request thread; replies go out through
// CSSLogicProcess::SendPack.
#pragma once

#include <string>

#include "ShareDefine/MMORPGPacket.h"

namespace status {
struct tagCSVCommonCmd;
}

// Reads the request's tagCSVCommonCmd from its body and logs a record whose
// length does not match ("Error in tagCSVCommonCmd : %s "). Returns the bytes
// consumed, 0 on failure; the name and parameter read so far stay in command.
int ReadCommonCmdLogged(const MMORPG::MMORPGPacket* packet, status::tagCSVCommonCmd& command);

// Answers the request with a tagCSVCommonCmdReply carrying `data`; the
// SendPack result, or 0 after an Error line when packet or data is null.
int SendCommonCmdReply(const MMORPG::MMORPGPacket* packet, const char* data, int dataLength);

// The common-command handler: true when the command was "GetErrorLog".
bool OnSVCCommonCmd(MMORPG::MMORPGPacket* packet);
// Sends the named file of the log directory; always true (handled).
bool OnSVCCmdGetErrorLog(MMORPG::MMORPGPacket* packet);

// The file of the log directory that "GetErrorLog" may send for `name`, or
// "" when the name is refused: a name with "../" or "..\", an absolute name,
// or one whose real path (links followed) leaves the log directory. A name
// that is refused is logged by the caller; a name that is merely missing
// yields its path.
std::string ResolveLogFileName(const std::string& logDirectory, const std::string& name);
