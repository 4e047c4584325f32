// A small program that reaches the log the way the server does, for the tests
// that need a process of their own (a missing or broken module ends it, and
// a normal exit must still flush the files).
//
//   lognest_probe get                 GetLog() once, print "ok"
//   lognest_probe exit <count>        <count> Info entries, then return from
//                                     main without Flush or Log_Free
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "infra/Log.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "get") == 0) {
        std::printf("%s\n", GetLog() != nullptr ? "ok" : "null");
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "exit") == 0) {
        const int count = std::atoi(argv[2]);
        GetLog()->SetServerName("Probe");
        for (int i = 0; i < count; ++i) GetLog()->LogInfo("probe entry %d", i);
        return 0;
    }
    std::fprintf(stderr, "usage: lognest_probe get | exit <count>\n");
    return 2;
}
