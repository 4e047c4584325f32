// VarnholtServer: the desktop gateway. Until its window exists it runs the
// same flow with the console view; the relay starts on "autostart" (from a
// loader) or through the launch controller.
#include <string>
#include <vector>

#include "app/ConsoleApp.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    ConsoleApp app(false);
    return app.Run(arguments);
}
