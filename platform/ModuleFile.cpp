#include "platform/ModuleFile.h"

#include <dlfcn.h>
#include <unistd.h>

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
    // The executables' run path is their own folder, so that folder comes
    // first; it is tried by its full name because the loader applies the run
    // path of whichever object calls dlopen, and a sanitizer runtime that
    // intercepts the call has none. Then a bare file name: the library path
    // and the system folders, as LoadLibrary searches.
    const std::string file = ModuleFileName(windowsName);
    const std::string besideExecutable = ExecutableDir() + file;
    ModuleHandle handle = nullptr;
    if (::access(besideExecutable.c_str(), F_OK) == 0) handle = ::dlopen(besideExecutable.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
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
