// The loader's own message window and the wait for one answer from the
// gateway. Created and used on varnholtctl's main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/MessageWindow.h"

namespace varnholtctl {

class LoaderWindow {
public:
    enum class WaitResult { Arrived, Abandoned, TimedOut };

    // Registers the window; nullptr with *error set when the name is taken
    // or no window could be made.
    static std::unique_ptr<LoaderWindow> Create(const std::string& className, const std::string& windowName,
                                                std::string* error);

    // Waits until message msg arrives (Arrived), keepWaiting() answers false
    // (Abandoned; messages already queued by then still count), or timeoutMs
    // passed (TimedOut). keepWaiting is asked about ten times a second.
    WaitResult WaitFor(uint32_t msg, uint32_t timeoutMs, const std::function<bool()>& keepWaiting);

    const std::string& ClassName() const { return m_Window->ClassName(); }
    const std::string& WindowName() const { return m_Window->WindowName(); }

private:
    explicit LoaderWindow(std::unique_ptr<plat::MessageWindow> window) : m_Window(std::move(window)) {}
    bool TakeArrived(uint32_t msg);

    std::unique_ptr<plat::MessageWindow> m_Window;
};

}  // namespace varnholtctl
