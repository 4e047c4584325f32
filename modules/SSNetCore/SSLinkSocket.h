// One connected TCP socket of the status link, shared through std::shared_ptr
// by the link thread and the senders: the descriptor is closed only when the
// last holder lets go, so no sender ever writes to a reused descriptor number.
// Writes are serialised by the socket's own lock and give up after 5 seconds
// without progress; Shutdown may be called from any thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

class CSSLinkSocket {
public:
    // A write that cannot hand the kernel a single byte for this long (the
    // peer stopped reading and the buffers are full) fails and shuts the
    // socket down. The bound is per stall, not per frame, so a slow but
    // reading peer still gets large frames.
    static constexpr std::chrono::seconds kSendTimeout{5};

    // A connected socket to ip:port (an IPv4 address or a host name), or
    // nullptr when the address is bad, the peer refuses, `timeout` passes, or
    // `abandonFd` (-1: none) becomes readable first.
    static std::shared_ptr<CSSLinkSocket> Open(const char* ip, int port, std::chrono::milliseconds timeout,
                                               int abandonFd);
    ~CSSLinkSocket();

    CSSLinkSocket(const CSSLinkSocket&) = delete;
    CSSLinkSocket& operator=(const CSSLinkSocket&) = delete;

    // Writes all of `data` with no other write in between. On failure or
    // time-out the socket is shut down: a partly written frame leaves the
    // stream unusable, and the shutdown tells the link thread the link is lost.
    bool WriteAll(const std::string& data);
    // Blocks until bytes arrive or `wakeFd` becomes readable. >0: bytes read;
    // 0: end of stream, shutdown, or woken; -1: error.
    ssize_t Read(char* buffer, size_t len, int wakeFd);
    void Shutdown();

private:
    explicit CSSLinkSocket(int fd);

    const int m_Fd;
    std::mutex m_WriteMutex;
};
