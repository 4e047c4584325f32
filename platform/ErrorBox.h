// The fatal "Error report" message box. A process with a window installs a
// presenter that shows the box (error icon, always on top) and returns when
// the operator closes it; without one the text goes to standard error. In
// both cases the process then ends at once with exit code 1, without running
// clean-up: it is only used when a set-up step failed and nothing can run.
#pragma once

#include <string>

namespace plat {

using ErrorBoxPresenter = void (*)(const char* caption, const char* text);

inline constexpr const char* kErrorReportCaption = "Error report";

void SetErrorBoxPresenter(ErrorBoxPresenter presenter);
[[noreturn]] void FatalErrorBox(const std::string& text);

}  // namespace plat
