// A program that asks for one network module through the program's
// adapters: "block" for nqBlockClient, "service" for QXNetService. Prints
// "ok" when the module and its exports were found.
#include <cstdio>
#include <cstring>

#include "ShareDefine/NetLibAdapters.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    if (std::strcmp(argv[1], "block") == 0) {
        INqBlockSocket* socket = GetNqBlockSocket();
        if (socket == nullptr) return 3;
        FreeNqBlockSocket(socket);
    } else if (std::strcmp(argv[1], "service") == 0) {
        INetService* service = GetQXNetServiceInstance(0);
        if (service == nullptr) return 3;
        service->Release();
    } else {
        return 2;
    }
    std::puts("ok");
    return 0;
}
