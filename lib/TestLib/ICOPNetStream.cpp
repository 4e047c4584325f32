#include "lib/TestLib/ICOPNetStream.h"

#include <cerrno>

#include "modules/QXNetService/INetService.h"
#include "platform/LastError.h"

int CICOPNetStream::Write(const char* data, int len) {
    return Result(m_Service ? m_Service->SendTo(m_PoolIndex, data, len) : 0);
}

int CICOPNetStream::WriteMore(const char* data, int len) {
    return Result(m_Service ? m_Service->SendToMore(m_PoolIndex, data, len) : 0);
}

int CICOPNetStream::Result(int sendResult) {
    // Only the low byte carries the result: 1 queued, 0 refused.
    const int queued = sendResult & 0xFF;
    // A refusal must not be read as "nothing to send" left over from an
    // earlier flush on this thread, so it sets a last error of its own.
    if (queued == 0) plat::SetLastError(ENOTCONN);
    return queued;
}
