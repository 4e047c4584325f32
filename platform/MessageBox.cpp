#include "platform/MessageBox.h"

#include <cstdio>
#include <mutex>

namespace plat {
namespace {

std::mutex g_presenterLock;
MessageBoxPresenter g_presenter;

bool PrintMessageBox(const MessageBoxRequest& request) {
    const char* caption = request.caption.empty() ? "Message" : request.caption.c_str();
    if (request.buttons == MessageBoxButtons::OkCancel) {
        std::fprintf(stderr, "%s: %s\n%s: answered OK (no one to ask)\n", caption, request.text.c_str(), caption);
    } else {
        std::fprintf(stderr, "%s: %s\n", caption, request.text.c_str());
    }
    std::fflush(stderr);
    return true;
}

}  // namespace

void SetMessageBoxPresenter(MessageBoxPresenter presenter) {
    std::lock_guard<std::mutex> hold(g_presenterLock);
    g_presenter = std::move(presenter);
}

bool HasMessageBoxPresenter() {
    std::lock_guard<std::mutex> hold(g_presenterLock);
    return static_cast<bool>(g_presenter);
}

bool ShowMessageBox(const MessageBoxRequest& request) {
    MessageBoxPresenter presenter;
    {
        std::lock_guard<std::mutex> hold(g_presenterLock);
        presenter = g_presenter;
    }
    return presenter ? presenter(request) : PrintMessageBox(request);
}

void ShowMessage(const std::string& text) {
    MessageBoxRequest request;
    request.text = text;
    request.icon = MessageBoxIcon::Information;
    ShowMessageBox(request);
}

}  // namespace plat
