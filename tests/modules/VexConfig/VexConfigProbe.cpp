// A program that asks the program's proxy for one configuration object.
// Prints "ok" when VexConfig.dll and both exports were found.
#include <cstdio>

#include "infra/VexConfigProxy.h"

int main() {
    ConfigFilePtr config = NewConfigFile();
    if (!config) return 3;
    std::puts("ok");
    return 0;
}
