#include "ModuleLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace plat {
namespace {

thread_local std::string t_lastModuleError;

bool EndsWithDll(const std::string& name) {
    if (name.size() < 4) return false;
    const std::string tail = name.substr(name.size() - 4);
    return (tail[0] == '.') && (tail[1] == 'd' || tail[1] == 'D') && (tail[2] == 'l' || tail[2] == 'L') &&
           (tail[3] == 'l' || tail[3] == 'L');
}

}  // namespace

std::string ModuleFileName(const std::string& windowsName) {
    const std::string stem = EndsWithDll(windowsName) ? windowsName.substr(0, windowsName.size() - 4) : windowsName;
    return "lib" + stem + ".so";
}

std::string ExecutableDir() {
    char path[PATH_MAX];
    const ssize_t len = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (len <= 0) return "./";
    path[len] = '\0';
    std::string full(path);
    const auto slash = full.rfind('/');
    return slash == std::string::npos ? "./" : full.substr(0, slash + 1);
}

ModuleHandle LoadModule(const std::string& windowsName) {
    const std::string path = ExecutableDir() + ModuleFileName(windowsName);
    // RTLD_NOW: a module with an unresolved symbol fails here, at start-up,
    // rather than in the middle of a call.
    ModuleHandle handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        t_lastModuleError = why ? why : path;
    } else {
        t_lastModuleError.clear();
    }
    return handle;
}

void* ResolveSymbol(ModuleHandle module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    ::dlerror();
    void* symbol = ::dlsym(module, name);
    if (symbol == nullptr) {
        const char* why = ::dlerror();
        t_lastModuleError = why ? why : name;
    }
    return symbol;
}

std::string LastModuleError() { return t_lastModuleError; }

}  // namespace plat
