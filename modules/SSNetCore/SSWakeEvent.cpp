#include "modules/SSNetCore/SSWakeEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdint>

CSSWakeEvent::CSSWakeEvent() : m_Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CSSWakeEvent::~CSSWakeEvent() {
    if (m_Fd >= 0) ::close(m_Fd);
}

void CSSWakeEvent::Signal() {
    const uint64_t one = 1;
    // Can fail only when the counter is near overflow, i.e. already signalled.
    [[maybe_unused]] const ssize_t written = ::write(m_Fd, &one, sizeof(one));
}

void CSSWakeEvent::Reset() {
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t got = ::read(m_Fd, &value, sizeof(value));
}

bool CSSWakeEvent::WaitFor(std::chrono::milliseconds timeout) const {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{m_Fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}
