// Stand-ins for broken configuration modules: each build exports only the
// entry points its FAKE_EXPORT_* definitions name. None of them is called.
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT int FakeVexConfigVersion() { return 0; }
#ifdef FAKE_EXPORT_CREATE_CONFIG
FAKE_EXPORT void* CreateConfig() { return nullptr; }
#endif
