// Loading a module from an explicit file path, and giving a module back.
// ModuleLoader.h finds the suite's modules beside the executable; a few
// components look in further folders of their own or unload a module when
// their feature ends, and use these two. Safe on any thread.
#pragma once

#include <string>

#include "platform/ModuleLoader.h"

namespace plat {

// Loads exactly this file (a name without a '/' is taken from the current
// directory, never searched for on the library path); nullptr on failure,
// with the loader's reason in *error when error is given.
ModuleHandle LoadModuleFile(const std::string& path, std::string* error = nullptr);
// Loads the module by its Linux file name ("libX.so" for "X.dll") through
// the system's normal search: the executable's own folder (its run path)
// first, then the library path and the system folders. nullptr on failure.
ModuleHandle LoadModuleBySearch(const std::string& windowsName, std::string* error = nullptr);
// Drops one reference to the module; nullptr is ignored. Every address
// resolved from it must be forgotten first.
void UnloadModule(ModuleHandle module);

}  // namespace plat
