// The program's entry points into VexConfig.dll (the configuration files),
// loaded beside the executable on the first call and kept for the process's
// life. A missing module or export ends the process with the "Error report"
// box. Called on the window thread; the loading runs once even so.
#pragma once

#include <memory>

#include "modules/VexConfig/ConfigFile.h"

// A new configuration object from the module; nullptr when it could not make one.
ConfigFile* CreateConfig();
// Gives an object of CreateConfig() back to the module; nullptr is ignored.
void FreeConfig(ConfigFile* config);

struct ConfigFileDeleter {
    void operator()(ConfigFile* config) const { FreeConfig(config); }
};
// A configuration object owned by the program, freed through the module.
using ConfigFilePtr = std::unique_ptr<ConfigFile, ConfigFileDeleter>;

inline ConfigFilePtr NewConfigFile() { return ConfigFilePtr(CreateConfig()); }
