// The C entry points of the module, the only symbols it exports (the rest is
// built with hidden visibility, and exports.map keeps the static libraries'
// symbols private as well).
#include <new>

#include "modules/VexConfig/IniConfigFile.h"

#define VEX_EXPORT extern "C" __attribute__((visibility("default")))

VEX_EXPORT ConfigFile* CreateConfig() { return new (std::nothrow) CIniConfigFile(); }

// Every object this module hands out is a CIniConfigFile.
VEX_EXPORT void FreeConfig(ConfigFile* config) { delete static_cast<CIniConfigFile*>(config); }
