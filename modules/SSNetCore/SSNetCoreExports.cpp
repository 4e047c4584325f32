// The module's one export. GetSSNetCore hands out the process's one status
// link object, made on the first call; Release destroys it and the next call
// makes a new one. Never lets an exception out.
#include <mutex>
#include <new>

#include "modules/SSNetCore/SSNetCore.h"

#define SSNET_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex g_InstanceMutex;
CSSNetCore* g_Instance = nullptr;  // guarded by g_InstanceMutex

void ForgetInstance(const CSSNetCore* core) {
    std::lock_guard lock(g_InstanceMutex);
    if (g_Instance == core) g_Instance = nullptr;
}

}  // namespace

SSNET_EXPORT ISSNetCore* GetSSNetCore() {
    std::lock_guard lock(g_InstanceMutex);
    if (g_Instance == nullptr) g_Instance = new (std::nothrow) CSSNetCore(&ForgetInstance);
    return g_Instance;
}
