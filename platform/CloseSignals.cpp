#include "platform/CloseSignals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace plat {
namespace {

sigset_t CloseSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

}  // namespace

CloseSignals::CloseSignals() {
    const sigset_t set = CloseSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_Fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    ::signal(SIGPIPE, SIG_IGN);
}

CloseSignals::~CloseSignals() {
    if (m_Fd >= 0) ::close(m_Fd);
}

bool CloseSignals::Drain() {
    bool any = false;
    signalfd_siginfo info{};
    while (m_Fd >= 0 && ::read(m_Fd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) any = true;
    return any;
}

}  // namespace plat
