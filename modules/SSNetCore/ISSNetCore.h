// The status-link core of the SSNetCore module: one TCP client link to the
// StatusServer, handed out by the module's exported GetSSNetCore() (the same
// object on every call; Release ends it). It speaks the gateway's own wire
// form in both directions: each packet is one frame, FF CC, a 32-bit
// little-endian length of what follows (9 + record bytes), the 9-byte
// tagPackHead, then the record.
//
// Once Connect has made a link the module keeps it up by itself: after a loss
// it reconnects about once a second, for ever, and reports each re-made link
// once through IsReconnected. Received packets wait in its queue until
// Receive takes them. Send may be called from several threads at once.
//
// The program calls the operations by their position in the table of virtual
// operations, so the order of the declarations is part of the module's
// interface: never reorder.
#pragma once

#include "ShareDefine/MMORPGPacket.h"

class ISSNetCore {
public:
    // Prepares the module's threads; 1 on success, 0 when they cannot run.
    // Connect works whether or not Start came first.
    /*  0 */ virtual int Start() = 0;
    // Stores the address and connects (3-second time-out), closing any
    // earlier link first; false when no link was made, and then nothing keeps
    // trying. A successful Connect starts the link's one thread and arms the
    // automatic reconnects; the first link is not a reconnection.
    /*  1 */ virtual bool Connect(const char* ip, int port) = 0;
    // Called once the gateway's own services run; 1 (the link's thread
    // already runs from Connect on).
    /*  2 */ virtual int Run() = 0;
    // Ends the reconnects, closes the link and joins the module's threads.
    // Queued received packets are dropped. Safe to call more than once.
    /*  3 */ virtual void Stop() = 0;
    /*  4 */ virtual bool IsConnected() = 0;
    // True once after each re-made link, until ClearReconnected.
    /*  5 */ virtual bool IsReconnected() = 0;
    /*  6 */ virtual void ClearReconnected() = 0;
    // Sends one packet: head (headLength bytes, normally the 9 of a
    // tagPackHead) and body framed together, written whole without another
    // packet's bytes in between. Returns the frame's byte count, or 0 when
    // nothing was sent (not connected, a null or empty argument, a failed write).
    // A write that cannot make progress for 5 seconds (the StatusServer
    // stopped reading) fails; a failed write counts as a loss of the link.
    /*  7 */ virtual int Send(const char* head, int headLength, const char* body, int bodyLength) = 0;
    // Moves the oldest received packet into *packet (header and payload);
    // false when none waits.
    /*  8 */ virtual bool Receive(MMORPG::MMORPGPacket* packet) = 0;
    // Received packets waiting for Receive.
    /*  9 */ virtual unsigned GetRecvCount() = 0;
    // Stops the link and frees the object; the last call before the module
    // is unloaded. GetSSNetCore afterwards makes a new object.
    /* 10 */ virtual void Release() = 0;

protected:
    // Only Release destroys the object.
    ~ISSNetCore() = default;
};

// The module's export.
extern "C" {
using GetSSNetCoreFunc = ISSNetCore* (*)();
}
