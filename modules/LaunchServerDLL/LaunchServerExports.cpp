// The C entry points of the module, the only symbols it exports (the rest is
// built with hidden visibility). The module holds at most one controller:
// the gateway asks for it again on every use, so it must be the same object
// each time until it is released.
#include <mutex>
#include <new>

#include "modules/LaunchServerDLL/LaunchControlServer.h"

#define LAUNCH_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// A plain pointer, not an object with a destructor: at process exit the
// program may still release the controller after this module's static
// objects are gone.
std::mutex g_InstanceLock;
CLaunchControlServer* g_Instance = nullptr;  // guarded by g_InstanceLock

}  // namespace

LAUNCH_EXPORT LaunchControl* GetLaunchControlInstance() {
    std::lock_guard lock(g_InstanceLock);
    if (g_Instance == nullptr) g_Instance = new (std::nothrow) CLaunchControlServer();
    return g_Instance;
}

LAUNCH_EXPORT void ReleaseLaunchControlInstance() {
    std::lock_guard lock(g_InstanceLock);
    delete g_Instance;
    g_Instance = nullptr;
}
