// CNetStream: the coalescing send stream over a blocking socket (the
// DataServer link). A failed flush keeps the buffered bytes for the next
// flush. It writes either to a raw descriptor or, preferably, through the
// blocking-client object, which keeps the descriptor alive while a write is
// under way even if another thread closes the connection.
#pragma once

#include "lib/TestLib/BufferedSendStream.h"

class INqBlockSocket;

class CNetStream final : public BufferedSendStream {
public:
    explicit CNetStream(int socketHandle = -1) : m_Socket(socketHandle) {}

    void SetSocket(int socketHandle) { m_Socket = socketHandle; }
    int GetSocket() const { return m_Socket; }
    // Writes go through this object (not owned) instead of the descriptor.
    void SetSocketObject(INqBlockSocket* socket) { m_SocketObject = socket; }

protected:
    int Write(const char* data, int len) override;
    int WriteMore(const char* data, int len) override;
    bool ClearAfterFailedFlush() const override { return false; }
    const char* StreamName() const override { return "CNetStream"; }

private:
    int WriteWith(const char* data, int len, int flags);

    int m_Socket;
    INqBlockSocket* m_SocketObject = nullptr;
};
