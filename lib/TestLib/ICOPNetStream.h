// CICOPNetStream: the coalescing send stream over one connection slot of the
// listening network service. Writes are handed to the service's SendTo,
// which queues them; a flush drops the buffered bytes whatever its result,
// since the service has already closed a connection it could not queue for.
#pragma once

#include "lib/TestLib/BufferedSendStream.h"

class INetService;

class CICOPNetStream final : public BufferedSendStream {
public:
    // service: not owned; it outlives the stream.
    CICOPNetStream(INetService* service, int poolIndex) : m_Service(service), m_PoolIndex(poolIndex) {}

protected:
    int Write(const char* data, int len) override;
    int WriteMore(const char* data, int len) override;
    bool ClearAfterFailedFlush() const override { return true; }
    const char* StreamName() const override { return "CICOPNetStream"; }

private:
    // 1 when the service took the bytes, else 0 with a last error set.
    int Result(int sendResult);

    INetService* m_Service;
    int m_PoolIndex;
};
