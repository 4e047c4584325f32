// A stand-in for the gateway in varnholtctl's tests: it speaks the loader
// window protocol and nothing else. Registers the window TfrmVarnholt/<name>
// ($FAKE_GATEWAY_WINDOW, default VarnholtServer). With "autostart <class>
// <name>" (any case) it posts WM_APP + 3 to that loader window; on WM_COPYDATA
// dwData 101 it posts WM_APP + 2 to it and exits 0. $FAKE_GATEWAY_MODE bends
// the behaviour for fault tests:
//   exit-early  exit 3 before reporting the start
//   silent      never report the start, ignore the close request
//   no-confirm  exit 0 on the close request without WM_APP + 2
// It ends by itself after 60 s so that a failed test leaves nothing behind.
#include <strings.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/MessageWindow.h"
#include "platform/WindowPost.h"

namespace {

std::string Environment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

void PostToLoader(const std::string& loaderClass, const std::string& loaderName, uint32_t msg) {
    // Looked up each time, as the gateway does; no loader window, no message.
    if (const auto loader = plat::FindWindow(loaderClass, loaderName)) plat::PostMessage(*loader, msg, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = Environment("FAKE_GATEWAY_MODE", "normal");
    const std::string windowName = Environment("FAKE_GATEWAY_WINDOW", "VarnholtServer");
    const bool autostart = argc == 4 && ::strcasecmp(argv[1], "autostart") == 0;
    const std::string loaderClass = autostart ? argv[2] : "";
    const std::string loaderName = autostart ? argv[3] : "";

    auto window = plat::MessageWindow::Create("TfrmVarnholt", windowName);
    if (!window) return 4;
    if (mode == "exit-early") return 3;
    if (autostart && mode != "silent") PostToLoader(loaderClass, loaderName, plat::WM_APP + 3);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        window->WaitForMessage(1000);
        bool closeRequested = false;
        window->Dispatch([&](const plat::WindowMessage& message) {
            closeRequested = closeRequested || (message.msg == plat::WM_COPYDATA && message.dwData == 101);
        });
        if (!closeRequested || mode == "silent") continue;
        if (mode != "no-confirm") PostToLoader(loaderClass, loaderName, plat::WM_APP + 2);
        return 0;
    }
    return 5;
}
