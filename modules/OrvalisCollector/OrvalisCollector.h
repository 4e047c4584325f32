// The event collector of the OrvalisCollector module: plain C functions that
// record operator-visible events. Each report becomes one JSON line in a
// day file:
//
//   <folder>/events_<YYYY-MM-DD>.jsonl   (local date of the report)
//
// <folder> is, first found: the folder given to InstallEventReportA, the
// environment variable VARNHOLT_EVENT_DIR (when set and not empty), or
// D:\ServerLog\Events\ through the platform's path translation, that is
// <data root>/D/ServerLog/Events/. It is created when missing.
//
// One line per report, fields in this order:
//   {"time":"2024-05-01T12:34:56.789+02:00","appId":"...","sessionId":"...",
//    "productId":"...","zoneName":"...","operatorId":"...","eventId":22222,
//    "content":"Varnholt,0,1,0"}
// Texts are 8-bit: valid UTF-8 passes through, every other byte of 0x80 and
// above is written as \u00XX (its Latin-1 reading), so each line is valid
// JSON whatever code page the caller used. The secret of
// SetEventReportParamA is kept in memory only and never written.
//
// Every function may be called from any thread; lines of concurrent reports
// never interleave.
#pragma once

extern "C" {
// Makes the collector ready (chooses the folder); 0 on success. Reports
// before it, or after EventReportEasyCleanup, are refused.
using EventReportEasyInitFunc = int (*)();
using EventReportEasyCleanupFunc = void (*)();
// Appends one report; 0 when the line was written, -1 when not initialised,
// -2 when the file could not be written.
using EventReportAFunc = int (*)(const char* sessionId, const char* productId, const char* zoneName,
                                 const char* operatorId, int eventId, const char* content);
// Chooses the folder of the day files (a Windows or Linux path); an empty
// text or nullptr returns to the default. 0 on success.
using InstallEventReportAFunc = int (*)(const char* folder);
// The application's identity: appId goes into every line, secret nowhere.
using SetEventReportParamAFunc = int (*)(const char* appId, const char* secret);
}

inline constexpr const char* kEventDirVariable = "VARNHOLT_EVENT_DIR";
inline constexpr const char* kDefaultEventDir = "D:\\ServerLog\\Events\\";
