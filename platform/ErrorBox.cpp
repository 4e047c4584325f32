#include "ErrorBox.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace plat {
namespace {
std::atomic<ErrorBoxPresenter> g_presenter{nullptr};
}

void SetErrorBoxPresenter(ErrorBoxPresenter presenter) { g_presenter.store(presenter); }

void FatalErrorBox(const std::string& text) {
    if (ErrorBoxPresenter presenter = g_presenter.load()) {
        presenter(kErrorReportCaption, text.c_str());
    } else {
        std::fprintf(stderr, "%s: %s\n", kErrorReportCaption, text.c_str());
    }
    std::fflush(nullptr);
    ::_exit(1);
}

}  // namespace plat
