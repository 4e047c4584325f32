// The blocking client socket of the nqBlockClient module: one outbound TCP
// connection, created by the module's exported GetNqBlockSocket() and
// destroyed by FreeNqBlockSocket(). One thread may sit in SockRecv while
// others connect, close or write through SockGetHandle(); SockClose from any
// thread ends a blocked SockRecv at once.
//
// The program calls the operations by their position in the table of virtual
// operations, so the order of the declarations is part of the module's
// interface: never reorder, only replace a Reserved entry.
#pragma once

#include <cstdint>

class INqBlockSocket {
public:
    // Connects to host (IPv4 text or a name) and port, closing any earlier
    // connection of this object first. The attempt is bounded by the connect
    // time-out, 3 seconds unless SockSetup chose another; a name that needs
    // the system resolver also waits for the resolver's own time-outs. The
    // socket gets TCP_NODELAY and SO_KEEPALIVE. True when connected.
    /*  0 */ virtual bool SockConnect(const char* host, uint16_t port) = 0;
    // Writes all len bytes (blocking); returns len, or -1 on an error or
    // when not connected.
    /*  1 */ virtual int SockSend(const char* data, int len) = 0;
    // Blocks until data arrives: returns the byte count (at most size), 0
    // when the peer closed the connection, -1 on a socket error, when not
    // connected, or when SockClose ended the wait.
    /*  2 */ virtual int SockRecv(char* buffer, int size) = 0;
    // errno of the last failed operation of this object (0 when none).
    /*  3 */ virtual int SockGetLastError() = 0;
    // True from a successful connect until SockClose, a peer close or an error.
    /*  4 */ virtual bool SockIsConnected() = 0;
    // Shuts the connection down and closes the descriptor; a SockRecv or
    // SockSend blocked on it returns at once, and the descriptor number is
    // not given back to the system before they have left. A SockConnect
    // under way on another thread fails at once (ECONNABORTED).
    /*  5 */ virtual void SockClose() = 0;
    // The descriptor of the connection, -1 when there is none. Writers that
    // use it directly must pass MSG_NOSIGNAL, as a closed peer would
    // otherwise raise SIGPIPE.
    /*  6 */ virtual int SockGetHandle() = 0;
    // Sets the defaults: connectTimeoutMs 0 means 3000 ms; a positive value
    // replaces it for later connects.
    /*  7 */ virtual void SockSetup(int connectTimeoutMs) = 0;
    // SockSend for bytes that the caller follows with more at once: the
    // kernel may hold them back (MSG_MORE) until a plain SockSend, so a
    // burst leaves as few segments as possible. The caller must end every
    // burst with SockSend.
    /*  8 */ virtual int SockSendMore(const char* data, int len) = 0;
    // SockRecv that does not wait: -1 with SockGetLastError() EWOULDBLOCK
    // when nothing has arrived yet (the connection stays up); otherwise as
    // SockRecv, and equally safe against a SockClose on another thread.
    /*  9 */ virtual int SockRecvNoWait(char* buffer, int size) = 0;

protected:
    // Only FreeNqBlockSocket destroys the object.
    ~INqBlockSocket() = default;
};

// The module's exports.
extern "C" {
using GetNqBlockSocketFunc = INqBlockSocket* (*)();
using FreeNqBlockSocketFunc = void (*)(INqBlockSocket* socket);
}
