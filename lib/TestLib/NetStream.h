// CNetStream: the coalescing send stream over a blocking socket (the
// DataServer link). A failed flush keeps the buffered bytes for the next
// flush. Re-pointed at the new socket after a reconnect.
#pragma once

#include "lib/TestLib/BufferedSendStream.h"

class CNetStream final : public BufferedSendStream {
public:
    explicit CNetStream(int socketHandle = -1) : m_Socket(socketHandle) {}

    void SetSocket(int socketHandle) { m_Socket = socketHandle; }
    int GetSocket() const { return m_Socket; }

protected:
    int Write(const char* data, int len) override;
    bool ClearAfterFailedFlush() const override { return false; }
    const char* StreamName() const override { return "CNetStream"; }

private:
    int m_Socket;
};
