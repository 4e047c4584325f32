// Stand-ins for broken network modules: each build exports only the entry
// points its FAKE_EXPORT_* definitions name. None of them is ever called.
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT int FakeNetModuleVersion() { return 0; }
#ifdef FAKE_EXPORT_GET_SOCKET
FAKE_EXPORT void* GetNqBlockSocket() { return nullptr; }
#endif
#ifdef FAKE_EXPORT_GET_INSTANCE
FAKE_EXPORT void* GetQXNetServiceInstance(int) { return nullptr; }
#endif
#ifdef FAKE_EXPORT_GET_MSG_POOL
FAKE_EXPORT void* GetNetMsgPool() { return nullptr; }
#endif
