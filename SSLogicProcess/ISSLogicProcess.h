// ISSLogicProcess: the gateway's side of the StatusServer link, as the rest
// of the program and the script module see it. The operations are called by
// their position in the table of virtual operations; never reorder.
#pragma once

#include "ShareDefine/MMORPGPacket.h"

// A request handler bound to a context: true when it used the packet up.
using StatusRequestHandler = bool (*)(void* context, MMORPG::MMORPGPacket* packet);
// A plain request function: true when it used the packet up.
using StatusRequestFunction = bool (*)(MMORPG::MMORPGPacket* packet);

class ISSLogicProcess {
public:
    /*  0 */ virtual int Start(bool scriptMode) = 0;
    /*  1 */ virtual bool Connect(const char* ip, int port) = 0;
    /*  2 */ virtual int Run() = 0;
    /*  3 */ virtual int Stop() = 0;
    /*  4 */ virtual bool IsRunning() = 0;
    /*  5 */ virtual void SendLogin() = 0;
    /*  6 */ virtual void SetServerInfo(const char* name, int serverType, int serverIndex) = 0;
    /*  7 */ virtual int GetServerType() = 0;
    /*  8 */ virtual int GetServerIndex() = 0;
    /*  9 */ virtual int SetServerIndex(int serverIndex) = 0;
    /* 10 */ virtual int SendPack(const char* head, int headLength, const char* szContent, int nLen) = 0;
    /* 11 */ virtual bool ProcessScriptQueue() = 0;
    /* 12 */ virtual bool PopScriptPacket(MMORPG::MMORPGPacket* packet) = 0;
    /* 13 */ virtual int GetScriptQueueSize() = 0;
    /* 14 */ virtual void SetRequestHandler(StatusRequestHandler handler, void* context) = 0;
    /* 15 */ virtual void SetRequestFunction(StatusRequestFunction function) = 0;
    /* 16 */ virtual void Release() = 0;

protected:
    ~ISSLogicProcess() = default;
};
