#include "LoaderWindow.h"

#include <algorithm>
#include <chrono>

namespace varnholtctl {
namespace {

// The wait wakes at least this often to ask whether the answer can still
// come (the gateway may have ended without sending it).
constexpr uint32_t kCheckIntervalMs = 100;

}  // namespace

std::unique_ptr<LoaderWindow> LoaderWindow::Create(const std::string& className, const std::string& windowName,
                                                   std::string* error) {
    plat::MessageWindow::CreateStatus status = plat::MessageWindow::CreateStatus::Failed;
    auto window = plat::MessageWindow::Create(className, windowName, plat::MessageWindow::NameClash::Refuse, &status);
    if (!window) {
        *error = status == plat::MessageWindow::CreateStatus::NameTaken
                     ? "the loader window " + className + "/" + windowName + " is already taken by another loader"
                     : "cannot create the loader window " + className + "/" + windowName;
        return nullptr;
    }
    return std::unique_ptr<LoaderWindow>(new LoaderWindow(std::move(window)));
}

bool LoaderWindow::TakeArrived(uint32_t msg) {
    bool arrived = false;
    m_Window->Dispatch([&](const plat::WindowMessage& message) { arrived = arrived || message.msg == msg; });
    return arrived;
}

LoaderWindow::WaitResult LoaderWindow::WaitFor(uint32_t msg, uint32_t timeoutMs,
                                               const std::function<bool()>& keepWaiting) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (TakeArrived(msg)) return WaitResult::Arrived;
        if (!keepWaiting()) {
            // What the gateway sent just before it went is already queued.
            return TakeArrived(msg) ? WaitResult::Arrived : WaitResult::Abandoned;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return WaitResult::TimedOut;
        m_Window->WaitForMessage(static_cast<uint32_t>(std::min<long long>(left, kCheckIntervalMs)));
    }
}

}  // namespace varnholtctl
