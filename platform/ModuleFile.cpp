#include "platform/ModuleFile.h"

#include <dlfcn.h>

namespace plat {

ModuleHandle LoadModuleFile(const std::string& path, std::string* error) {
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    // RTLD_NOW, as for LoadModule: an unresolved symbol fails the load, not a later call.
    ModuleHandle handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && error != nullptr) {
        const char* why = ::dlerror();
        *error = why ? why : file;
    }
    return handle;
}

ModuleHandle LoadModuleBySearch(const std::string& windowsName, std::string* error) {
    // A bare file name: the dynamic loader searches the caller's run path,
    // the library path and the system folders, as LoadLibrary searches.
    const std::string file = ModuleFileName(windowsName);
    ModuleHandle handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && error != nullptr) {
        const char* why = ::dlerror();
        *error = why ? why : file;
    }
    return handle;
}

void UnloadModule(ModuleHandle module) {
    if (module != nullptr) ::dlclose(module);
}

}  // namespace plat
