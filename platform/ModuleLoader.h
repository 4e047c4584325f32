// Loading the suite's outside modules. Messages and settings name them as Windows
// libraries ("Lognest.dll"); here each is "lib<Name>.so" in the folder of the
// running executable, never searched for on the library path, so a gateway
// always runs with the modules it was shipped with.
#pragma once

#include <string>

namespace plat {

using ModuleHandle = void*;

// "Lognest.dll" -> "libLognest.so"; a name without ".dll" just gains the
// prefix and the ".so" ending.
std::string ModuleFileName(const std::string& windowsName);
// Folder of the running executable, with a trailing '/'.
std::string ExecutableDir();
// Loads the module beside the executable; nullptr on failure (see LastModuleError).
ModuleHandle LoadModule(const std::string& windowsName);
// Address of an exported symbol, or nullptr.
void* ResolveSymbol(ModuleHandle module, const char* name);
// The loader's text for the last failure on this thread ("" when none).
std::string LastModuleError();

}  // namespace plat
