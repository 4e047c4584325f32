#include "lib/TestLib/NetStream.h"

#include <sys/socket.h>

#include <cerrno>

#include "modules/nqBlockClient/INqBlockSocket.h"
#include "platform/LastError.h"

int CNetStream::Write(const char* data, int len) { return WriteWith(data, len, 0); }

int CNetStream::WriteMore(const char* data, int len) { return WriteWith(data, len, MSG_MORE); }

int CNetStream::WriteWith(const char* data, int len, int flags) {
    if (m_SocketObject != nullptr) {
        const int sent = flags != 0 ? m_SocketObject->SockSendMore(data, len) : m_SocketObject->SockSend(data, len);
        if (sent <= 0) plat::SetLastError(static_cast<uint32_t>(m_SocketObject->SockGetLastError()));
        return sent;
    }
    int total = 0;
    while (total < len) {
        // MSG_NOSIGNAL: a peer that went away is a failed write, not a SIGPIPE.
        const ssize_t sent =
            ::send(m_Socket, data + total, static_cast<size_t>(len - total), MSG_NOSIGNAL | flags);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) {
            plat::SetLastError(sent < 0 ? static_cast<uint32_t>(errno) : 0u);
            return static_cast<int>(sent);
        }
        total += static_cast<int>(sent);
    }
    return total;
}
