// Host checks that every server of the suite runs before its window becomes
// usable: the data-execution-prevention mode read from the system drive's
// Boot.ini, the host's uptime against the 32-bit tick's signed overflow, and
// the marker file beside the executable. Messages go to the operator through
// plat::ShowMessage / plat::ShowMessageBox (printed when nobody can be asked).
// Window thread only; the marker-file answer is cached without a lock.
#pragma once

#include <cstdint>
#include <string>

// True when start-up may go on: Boot.ini was found and either selects the
// opt-in mode or the operator chose to go on anyway. Runs ServerRunTimeCheck.
bool DEPCheck();
// Warns when the host's uptime has come within two days of 2^31 ms; never
// stops the program, so always true.
bool ServerRunTimeCheck();
// The same with the uptime given, in milliseconds since boot.
bool ServerRunTimeCheck(uint32_t uptimeMs);

inline constexpr const char* kMarkerFileName = "5D2E7A90-1C4B-4F3E-9A61-83B0C7E24D15";

// Whether the marker file sits beside the executable; looked up on the first
// call, the answer kept for the life of the process.
bool MarkerFileExists();
// The uncached lookup in a folder of the caller's choice.
bool MarkerFileExistsIn(const std::string& directory);
