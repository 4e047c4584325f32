// A stand-in for an incomplete launch-control module: it exports
// GetLaunchControlInstance only, which is never called.
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT void* GetLaunchControlInstance() { return nullptr; }
