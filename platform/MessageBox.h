// Message boxes and OK/Cancel questions. The desktop program installs a
// presenter that shows a real box and returns when the operator closes it;
// without one (the headless daemon, tests) the box is printed on standard
// error and a question gets the answer OK, so a service that nobody watches
// goes on as an operator who confirmed would have it. Window thread only.
#pragma once

#include <functional>
#include <string>

namespace plat {

enum class MessageBoxButtons { Ok, OkCancel };
enum class MessageBoxIcon { None, Information, Error };

struct MessageBoxRequest {
    std::string caption;
    std::string text;
    MessageBoxButtons buttons = MessageBoxButtons::Ok;
    MessageBoxIcon icon = MessageBoxIcon::None;
    bool topmost = false;
};

// Returns true when the box was confirmed with OK.
using MessageBoxPresenter = std::function<bool(const MessageBoxRequest&)>;

void SetMessageBoxPresenter(MessageBoxPresenter presenter);
bool HasMessageBoxPresenter();
bool ShowMessageBox(const MessageBoxRequest& request);

// The plain information box of the window toolkit: the application's title
// as caption, one OK button.
void ShowMessage(const std::string& text);

}  // namespace plat
