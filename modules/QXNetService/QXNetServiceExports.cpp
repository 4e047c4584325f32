// The C entry points of the module, the only symbols it exports (the rest
// is built with hidden visibility). They never let an exception out.
#include <new>

#include "modules/QXNetService/INetService.h"
#include "modules/QXNetService/NetIoDriver.h"
#include "modules/QXNetService/NetService.h"

#define QXNET_EXPORT extern "C" __attribute__((visibility("default")))

QXNET_EXPORT INetService* GetQXNetServiceInstance(int /*reserved*/) {
    try {
        return new CNetService();
    } catch (...) {
        return nullptr;
    }
}

QXNET_EXPORT tagNetMsg* GetNetMsgPool() { return new (std::nothrow) tagNetMsg{}; }

QXNET_EXPORT void FreeNetMsgPool(tagNetMsg* record) { delete record; }

QXNET_EXPORT INetIoDriver* CreateNetIoDriver() {
    try {
        return new CNetIoDriver();
    } catch (...) {
        return nullptr;
    }
}
