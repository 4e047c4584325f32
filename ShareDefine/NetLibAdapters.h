// The program's entry points into the two network modules, loaded beside the
// executable on the first call that needs them and kept for the process's
// life. A missing module or export ends the process with the "Error report"
// box. The first calls happen on the window thread during start-up, so the
// lazy loading takes no lock.
#pragma once

#include "modules/QXNetService/INetService.h"
#include "modules/nqBlockClient/INqBlockSocket.h"

// A new, unconnected blocking socket (nqBlockClient.dll).
INqBlockSocket* GetNqBlockSocket();
void FreeNqBlockSocket(INqBlockSocket* socket);
// A new listening service object (QXNetService.dll); the argument is always 0.
INetService* GetQXNetServiceInstance(int reserved);
// A new I/O driver for the listening services (one reference), or null when
// the module cannot make one; the services then run I/O threads of their own.
INetIoDriver* CreateNetIoDriver();
