#include "ShareDefine/NetLibAdapters.h"

#include <cerrno>
#include <string>

#include "platform/ErrorBox.h"
#include "platform/ModuleLoader.h"

namespace {

struct BlockClientModule {
    GetNqBlockSocketFunc getSocket = nullptr;
    FreeNqBlockSocketFunc freeSocket = nullptr;
};

struct NetServiceModule {
    GetQXNetServiceInstanceFunc getInstance = nullptr;
    GetNetMsgPoolFunc getMsgPool = nullptr;
    FreeNetMsgPoolFunc freeMsgPool = nullptr;
    CreateNetIoDriverFunc createIoDriver = nullptr;  // optional: null when the module has none
};

template <typename Func>
Func Resolve(plat::ModuleHandle module, const char* name, const char* moduleName) {
    auto function = reinterpret_cast<Func>(plat::ResolveSymbol(module, name));
    if (function == nullptr) {
        plat::FatalErrorBox(std::string("Can't find ") + name + " function in " + moduleName +
                            " module!!!Fail to start server!!!");
    }
    return function;
}

const BlockClientModule& BlockClient() {
    static BlockClientModule loaded;
    if (loaded.getSocket == nullptr) {
        plat::ModuleHandle module = plat::LoadModule("nqBlockClient.dll");
        if (module == nullptr) plat::FatalErrorBox("Can't find nqBlockClient.dll!!!Fail to start server!!!");
        loaded.getSocket = Resolve<GetNqBlockSocketFunc>(module, "GetNqBlockSocket", "nqBlockClient");
        loaded.freeSocket = Resolve<FreeNqBlockSocketFunc>(module, "FreeNqBlockSocket", "nqBlockClient");
    }
    return loaded;
}

const NetServiceModule& NetService() {
    static NetServiceModule loaded;
    if (loaded.getInstance == nullptr) {
        errno = 0;
        plat::ModuleHandle module = plat::LoadModule("QXNetService.dll");
        if (module == nullptr) {
            const int error = errno;
            plat::FatalErrorBox("Can't find QXNetService.dll!!!Error = " + std::to_string(error) + "!!!");
        }
        // All three are checked before any is used, in this order.
        auto getInstance =
            Resolve<GetQXNetServiceInstanceFunc>(module, "GetQXNetServiceInstance", "QXNetService");
        loaded.getMsgPool = Resolve<GetNetMsgPoolFunc>(module, "GetNetMsgPool", "QXNetService");
        loaded.freeMsgPool = Resolve<FreeNetMsgPoolFunc>(module, "FreeNetMsgPool", "QXNetService");
        loaded.createIoDriver =
            reinterpret_cast<CreateNetIoDriverFunc>(plat::ResolveSymbol(module, "CreateNetIoDriver"));
        loaded.getInstance = getInstance;
    }
    return loaded;
}

}  // namespace

INqBlockSocket* GetNqBlockSocket() { return BlockClient().getSocket(); }

void FreeNqBlockSocket(INqBlockSocket* socket) { BlockClient().freeSocket(socket); }

INetService* GetQXNetServiceInstance(int reserved) { return NetService().getInstance(reserved); }

INetIoDriver* CreateNetIoDriver() {
    const CreateNetIoDriverFunc create = NetService().createIoDriver;
    return create != nullptr ? create() : nullptr;
}
