// The program's access to the one process-wide log object of Lognest.dll.
//
// GetLog() loads the module on its first call and returns the module's log
// object; callers fetch it anew for every entry and keep nothing. A missing
// module or export ends the process with the "Error report" box. The first
// call happens on the window thread during start-up, before any worker runs;
// the lazy loading runs once even so, whichever thread comes first.
#pragma once

#include "modules/Lognest/LogService.h"

LogService* GetLog();
// Flushes and destroys the module's log object; GetLog() after it makes a new one.
void Log_Free();
// Echoes "date time<TAB>text" to standard output when the process has a
// console, and always writes text as an Info entry (as the entry itself,
// never as a format).
void LogLine(const char* text);

namespace logtest {
// Test seam: while set, GetLog() returns this object and loads no module.
// Pass nullptr to return to the module.
void SetLogServiceForTesting(LogService* log);
}  // namespace logtest
