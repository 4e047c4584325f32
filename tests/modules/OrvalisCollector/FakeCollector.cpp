// A stand-in for an incomplete collector module: it exports only the first
// of the five entry points, which is never called.
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT int EventReportEasyInit() { return 0; }
