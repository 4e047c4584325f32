#include "lib/TestLib/ICOPNetStream.h"

#include <cerrno>

#include "modules/QXNetService/INetService.h"
#include "platform/LastError.h"

int CICOPNetStream::Write(const char* data, int len) {
    // Only the low byte carries the result: 1 queued, 0 refused.
    const int queued = m_Service ? (m_Service->SendTo(m_PoolIndex, data, len) & 0xFF) : 0;
    // A refusal must not be read as "nothing to send" left over from an
    // earlier flush on this thread, so it sets a last error of its own.
    if (queued == 0) plat::SetLastError(ENOTCONN);
    return queued;
}
