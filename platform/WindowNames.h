// How windows are named on this host. A window with class C and name N is the
// Unix datagram socket "\0varnholt-window/<C>/<N>" in the abstract namespace
// ('%', '/' and NUL in C and N are written %25, %2F and %00 so that the split
// stays unambiguous); each process's first window is also reachable as
// "\0varnholt-window-pid/<pid>". Names that would not fit a socket address
// become "varnholt-window#<64-bit hash in hex>". Pure functions, any thread.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

#include <string>

namespace plat {

// Abstract socket name (without the leading NUL) of the window class/name.
std::string WindowSocketName(const std::string& className, const std::string& windowName);
// Abstract socket name of the window that answers for a process.
std::string ProcessWindowSocketName(pid_t pid);
// Fills a socket address for an abstract name; returns its length.
socklen_t MakeAbstractAddress(const std::string& name, sockaddr_un* address);

}  // namespace plat
