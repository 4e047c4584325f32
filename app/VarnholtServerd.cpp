// VarnholtServerd: the headless gateway daemon. It runs the main window's
// flow with a console view and starts the relay while it is created, as
// "autostart" does.
#include <string>
#include <vector>

#include "app/ConsoleApp.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    ConsoleApp app(true);
    return app.Run(arguments);
}
