// The C entry points of the module, the only symbols it exports (the rest
// is built with hidden visibility).
#include <new>

#include "modules/nqBlockClient/NqBlockSocket.h"

#define NQ_EXPORT extern "C" __attribute__((visibility("default")))

NQ_EXPORT INqBlockSocket* GetNqBlockSocket() { return new (std::nothrow) CNqBlockSocket(); }

// Every object this module hands out is a CNqBlockSocket.
NQ_EXPORT void FreeNqBlockSocket(INqBlockSocket* socket) { delete static_cast<CNqBlockSocket*>(socket); }
