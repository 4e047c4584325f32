#include "WindowNames.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/NameHash.h"

namespace plat {
namespace {

constexpr const char* kWindowPrefix = "varnholt-window/";
constexpr const char* kHashedPrefix = "varnholt-window#";
constexpr const char* kProcessPrefix = "varnholt-window-pid/";
// sun_path minus the leading NUL that puts the name in the abstract namespace.
constexpr size_t kMaxAbstractName = sizeof(sockaddr_un::sun_path) - 1;

void AppendEscaped(std::string& out, const std::string& part) {
    for (const char c : part) {
        if (c == '%') {
            out += "%25";
        } else if (c == '/') {
            out += "%2F";
        } else if (c == '\0') {
            out += "%00";
        } else {
            out += c;
        }
    }
}

}  // namespace

std::string WindowSocketName(const std::string& className, const std::string& windowName) {
    std::string name = kWindowPrefix;
    AppendEscaped(name, className);
    name += '/';
    AppendEscaped(name, windowName);
    if (name.size() <= kMaxAbstractName) return name;
    char hex[17];
    std::snprintf(hex, sizeof(hex), "%016llx", static_cast<unsigned long long>(Fnv1a64(name)));
    return std::string(kHashedPrefix) + hex;
}

std::string ProcessWindowSocketName(pid_t pid) { return kProcessPrefix + std::to_string(pid); }

socklen_t MakeAbstractAddress(const std::string& name, sockaddr_un* address) {
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    const size_t length = name.size() < kMaxAbstractName ? name.size() : kMaxAbstractName;
    std::memcpy(address->sun_path + 1, name.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

}  // namespace plat
