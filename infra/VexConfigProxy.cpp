#include "infra/VexConfigProxy.h"

#include "platform/ErrorBox.h"
#include "platform/ModuleLoader.h"

namespace {

struct VexConfigModule {
    CreateConfigFunc createConfig = nullptr;
    FreeConfigFunc freeConfig = nullptr;
};

VexConfigModule LoadVexConfig() {
    plat::ModuleHandle module = plat::LoadModule("VexConfig.dll");
    if (module == nullptr) plat::FatalErrorBox("Can't find VexConfig.dll!!!Fail to start server!!!");
    VexConfigModule loaded;
    loaded.createConfig = reinterpret_cast<CreateConfigFunc>(plat::ResolveSymbol(module, "CreateConfig"));
    if (loaded.createConfig == nullptr) {
        plat::FatalErrorBox("Can't find CreateConfig function in VexConfig module!!!Fail to start server!!!");
    }
    loaded.freeConfig = reinterpret_cast<FreeConfigFunc>(plat::ResolveSymbol(module, "FreeConfig"));
    if (loaded.freeConfig == nullptr) {
        plat::FatalErrorBox("Can't find FreeConfig function in VexConfig module!!!Fail to start server!!!");
    }
    return loaded;
}

const VexConfigModule& VexConfig() {
    static const VexConfigModule loaded = LoadVexConfig();
    return loaded;
}

}  // namespace

ConfigFile* CreateConfig() { return VexConfig().createConfig(); }

void FreeConfig(ConfigFile* config) {
    if (config != nullptr) VexConfig().freeConfig(config);
}
