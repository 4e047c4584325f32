#include "SSLogicProcess/SSProcessDLLLoad.h"

#include "platform/ModuleFile.h"

bool SSProcessDLLLoad::Load(SSPackSendFunc sendFunction, void* context) {
    if (m_Module != nullptr) return false;
    m_Module = plat::LoadModuleBySearch(kLibraryName);
    if (m_Module == nullptr) return false;
    m_SetPackSendFunc = reinterpret_cast<SetPackSendFuncFunc>(plat::ResolveSymbol(m_Module, "SetPackSendFunc"));
    m_OnStatusRequest = reinterpret_cast<OnStatusRequestFunc>(plat::ResolveSymbol(m_Module, "OnStatusRequest"));
    if (m_SetPackSendFunc != nullptr) m_SetPackSendFunc(sendFunction, context);
    return true;
}

void SSProcessDLLLoad::Unload() {
    if (m_Module == nullptr) return;
    m_SetPackSendFunc = nullptr;
    m_OnStatusRequest = nullptr;
    plat::UnloadModule(m_Module);
    m_Module = nullptr;
}

bool SSProcessDLLLoad::Dispatch(MMORPG::MMORPGPacket* packet) {
    return m_Module != nullptr && m_OnStatusRequest != nullptr && m_OnStatusRequest(packet);
}
