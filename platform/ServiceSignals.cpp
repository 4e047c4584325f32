#include "platform/ServiceSignals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace plat {
namespace {

sigset_t ServiceSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

ServiceSignals::ServiceSignals() {
    const sigset_t set = ServiceSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_Fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    ::signal(SIGPIPE, SIG_IGN);
}

ServiceSignals::~ServiceSignals() {
    if (m_Fd >= 0) ::close(m_Fd);
}

ServiceSignals::Taken ServiceSignals::Drain() {
    Taken taken;
    signalfd_siginfo info{};
    while (m_Fd >= 0 && ::read(m_Fd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
        if (info.ssi_signo == SIGHUP) {
            taken.reopenLogs = true;
        } else {
            taken.close = true;
        }
    }
    return taken;
}

}  // namespace plat
