// VarnholtServer: the desktop gateway with its main window. Without a window
// system to reach (a bare server console) it runs the same flow on the
// console, as the headless daemon does, and says so.
#include <cstdio>
#include <string>
#include <vector>

#include "app/ConsoleApp.h"
#include "app/window/DesktopApp.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!DesktopApp::DisplayAvailable()) {
        std::fprintf(stderr, "VarnholtServer: no display (DISPLAY is not set); running on the console\n");
        ConsoleApp app(false);
        return app.Run(arguments);
    }
    DesktopApp app(argc, argv);
    return app.Run(arguments);
}
