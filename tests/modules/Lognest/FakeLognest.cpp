// Stand-ins for a broken Lognest module: built once exporting only GetLog
// (FAKE_EXPORT_GETLOG) and once exporting neither GetLog nor Log_Free.
class LogService;

#ifdef FAKE_EXPORT_GETLOG
extern "C" __attribute__((visibility("default"))) LogService* GetLog() { return nullptr; }
#else
extern "C" __attribute__((visibility("default"))) int LognestFakeVersion() { return 0; }
#endif
