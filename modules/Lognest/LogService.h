// The log object of the Lognest module: one per process, created by the
// module's exported GetLog() and destroyed by Log_Free(). The program calls
// its operations by their position in the table of virtual operations, so
// the order of the declarations below is part of the module's interface:
// never reorder, only replace a Reserved entry.
//
// Every operation may be called from any thread at the same time. Entry
// operations format the text and count it on the caller's thread, then hand
// it to the module's logging thread, which writes the files and calls the
// hook; callers never wait for the disk.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

enum ELogLevel : int {
    llNomal = 0,
    llInfo = 1,
    llDebug = 2,
    llPyWarn = 3,
    llWarn = 4,
    llDesign = 5,
    llPyErr = 6,
    llError = 7,
    llFatal = 8,
};

inline constexpr int kLogLevelCount = 9;

// Display names of the levels, exactly as the lights and the files show them.
inline constexpr const char* kLogLevelNames[kLogLevelCount] = {
    "Nomal", " Info", "Debug", "PyWarn", " Warn", "Design", "PyErr", "Error", "Fatal",
};

// Called on the logging thread once per entry, in entry order.
using LogHook = void (*)(void* context, int level, const char* text);

#define LOGNEST_PRINTF(fmtIndex) __attribute__((format(printf, fmtIndex, fmtIndex + 1)))

class LogService {
public:
    /*  0 */ virtual const char* GetLevelName(int level) = 0;
    /*  1 */ virtual std::string GetLogDirectory() = 0;
    /*  2 */ virtual void Flush() = 0;  // returns when every earlier entry is written and hooked
    /*  3 */ virtual void LogRun(const char* format, ...) LOGNEST_PRINTF(2) = 0;
    /*  4 */ virtual void LogNote(const char* format, ...) LOGNEST_PRINTF(2) = 0;
    /*  5 */ virtual void LogText(int level, const char* text) = 0;  // finished text, never a format
    /*  6 */ virtual void LogAlarm(const char* format, ...) LOGNEST_PRINTF(2) = 0;
    /*  7 */ virtual uint8_t GetOutputMask() = 0;
    /*  8 */ virtual void SetOutputMask(uint8_t mask) = 0;
    /*  9 */ virtual std::string GetServerName() = 0;
    /* 10 */ virtual void SetNotifyWindow(void* window) = 0;
    /* 11 */ virtual void PyOutput(int kind, const char* text) = 0;
    /* 12 */ virtual void* GetNotifyWindow() = 0;
    /* 13 */ virtual void PyErrorOutput(int kind, const char* text) = 0;
    /* 14 */ virtual void SetLogDirectory(const char* directory, const char* text) = 0;
    /* 15 */ virtual int GetFatalCount() = 0;
    /* 16 */ virtual int GetErrorCount() = 0;
    /* 17 */ virtual int GetLogFatalErrorCount() = 0;
    /* 18 */ virtual int64_t GetTotalCount() = 0;
    /* 19 */ virtual int64_t GetPendingCount() = 0;  // entries not yet written
    /* 20 */ virtual std::string GetFileName(bool warnFile) = 0;  // today's file, without the folder
    /* 21 */ virtual void LogNomal(const char* format, ...) LOGNEST_PRINTF(2) = 0;
    /* 22 */ virtual void LogInfo(const char* format, ...) LOGNEST_PRINTF(2) = 0;
    /* 23 */ virtual void LogDebug(const char* format, ...) LOGNEST_PRINTF(2) = 0;
    /* 24 */ virtual void LogPyWarn(const char* format, ...) LOGNEST_PRINTF(2) = 0;
    /* 25 */ virtual void LogWarn(const char* format, ...) LOGNEST_PRINTF(2) = 0;
    /* 26 */ virtual void LogDesign(const char* format, ...) LOGNEST_PRINTF(2) = 0;
    /* 27 */ virtual void LogPyErr(const char* format, ...) LOGNEST_PRINTF(2) = 0;
    /* 28 */ virtual void LogError(const char* format, ...) LOGNEST_PRINTF(2) = 0;
    /* 29 */ virtual void LogFatal(const char* format, ...) LOGNEST_PRINTF(2) = 0;
    /* 30 */ virtual void LogV(int level, const char* format, va_list args) = 0;
    /* 31 */ virtual void Reserved31() = 0;
    // Closes both files and opens them anew at their names with the next
    // entry, after a rotation moved them away (SIGHUP). In order with the
    // entries logged before it.
    /* 32 */ virtual void ReopenFiles() = 0;
    /* 33 */ virtual void Reserved33() = 0;
    /* 34 */ virtual void Reserved34() = 0;
    /* 35 */ virtual void Reserved35() = 0;
    /* 36 */ virtual int GetErrorCountAlt() = 0;
    /* 37 */ virtual int GetFatalCountAlt() = 0;
    /* 38 */ virtual int GetLevelCount(int level) = 0;
    /* 39 */ virtual void Reserved39() = 0;
    /* 40 */ virtual void SetMarkerFlag(bool markerFileExists) = 0;
    /* 41 */ virtual void SetServerName(const char* name) = 0;
    /* 42 */ virtual std::string GetLastErrorTime() = 0;
    /* 43 */ virtual bool GetMarkerFlag() = 0;
    /* 44 */ virtual std::string GetLastFatalTime() = 0;
    /* 45 */ virtual void Reserved45() = 0;
    /* 46 */ virtual void Reserved46() = 0;
    /* 47 */ virtual void Reserved47() = 0;
    /* 48 */ virtual void SetLogHook(LogHook hook, void* context) = 0;

protected:
    // Only the module destroys the object (Log_Free).
    ~LogService() = default;
};

// The module's exports.
extern "C" {
using GetLogFunc = LogService* (*)();
using LogFreeFunc = void (*)();
}
