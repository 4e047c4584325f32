// The two companion check programs that run while the main window is being
// created, each to its end: DumpRunEnvironmentInfo writes EnvInfo.log into
// the log folder and its verdict (exit code 0) decides whether the server may
// come up at all; ResourceCheck checks the installed files and its verdict is
// not read. Both are looked up beside the executable. Window thread only: the
// window waits for each tool without a time-out.
#pragma once

#include <string>

// logDirectory: the log's folder as a Windows path ("D:\\ServerLog\\").
// Returns only when the dump tool ended with 0; every failure ends the
// process through EnvCheckFail.
void RunEnvironmentDump(const char* logDirectory);
// directory: null or "" for the executable's folder, a relative path below
// that folder, or an absolute path. A missing tool is only a warning; a tool
// that cannot be started ends the process with exit code -1.
void RunResourceCheck(const char* directory);
// Logs the text as an Error, tells the operator (a message box when the
// program has a window, the console otherwise), releases the log and ends
// the process with exit code 1.
[[noreturn]] void EnvCheckFail(const std::string& text);

namespace envcheck {
// RunEnvironmentDump as if the running executable were ownPath: the tool is
// looked up in ownPath's folder and gets ownPath as "/ep:".
void RunEnvironmentDumpFor(const std::string& ownPath, const char* logDirectory);
}  // namespace envcheck
