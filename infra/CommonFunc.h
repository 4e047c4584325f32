// Small helpers shared by the thread framework's exception path and the
// status information: exception code names, the call-stack text, the
// conversion of a split 64-bit file time, and printf-style formatting into a
// std::string. Every function is safe from any thread and keeps no state.
#pragma once

#include <cstdint>
#include <string>

// Codes the language runtime raises for its own exceptions. A C++ exception
// that escapes a worker is reported under kCppTypedExceptionCode.
inline constexpr uint32_t kRuntimeRaiseCode = 0x0EEDFADE;
inline constexpr uint32_t kRuntimeReRaiseCode = 0x0EEDFADF;
inline constexpr uint32_t kRuntimeExceptCode = 0x0EEDFAE0;
inline constexpr uint32_t kRuntimeFinallyCode = 0x0EEDFAE1;
inline constexpr uint32_t kRuntimeTerminateCode = 0x0EEDFAE2;
inline constexpr uint32_t kRuntimeUnhandledCode = 0x0EEDFAE3;
inline constexpr uint32_t kRuntimeForeignExceptionCode = 0x0EEDFAE4;
inline constexpr uint32_t kRuntimeExitFinallyCode = 0x0EEDFAE5;
inline constexpr uint32_t kCppTypedExceptionCode = 0x0EEFFACE;

// Name of an operating-system or runtime exception code; "UNKNOWN_EXCEPTION"
// for any other code. Returns a string literal and touches nothing else, so
// a signal handler may call it.
const char* ExceptionCodeName(uint32_t code);

// "Exception Call Stack:\r\n" followed by the frames of the calling thread,
// one per line, lines separated by CR LF. Called from a catch block it shows
// the stack of the catch site. Never throws: when taking the stack fails the
// text is "GetLastExceptionCallStackAsText Exception:<reason>!".
std::string LastExceptionStackText();

// The platform's split 64-bit count of 100 ns units.
struct FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};

constexpr uint64_t FileTimeToUInt64(const FILETIME& time) {
    return static_cast<uint64_t>(time.dwLowDateTime) | (static_cast<uint64_t>(time.dwHighDateTime) << 32);
}

// printf-style formatting into a std::string, for log lines that are handed
// over as finished text (LogLine).
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The current local time in the strftime format given ("%H:%M:%S" for the
// time of day in message lists, "%Y-%m-%d %H:%M:%S" for start times).
std::string LocalTimeText(const char* format);
