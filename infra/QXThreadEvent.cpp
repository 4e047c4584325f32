#include "infra/QXThreadEvent.h"

#include <utility>

QXThreadEvent::QXThreadEvent(std::string name) : plat::ManualResetEvent(std::move(name), false) {}

plat::WaitResult QXThreadEvent::Wait(uint32_t timeoutMs) {
    if (!IsEnabled()) return plat::WaitResult::Abandoned;
    return plat::ManualResetEvent::Wait(timeoutMs);
}
