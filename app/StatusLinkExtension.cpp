#include "app/StatusLinkExtension.h"

#include "SSLogicProcess/BaseInfoReply.h"
#include "SSLogicProcess/ProcessMetrics.h"
#include "SSLogicProcess/SSLogicProcess.h"
#include "SSLogicProcess/StatusCommandHandlers.h"
#include "SSLogicProcess/StatusRecords.h"
#include "app/IMainView.h"
#include "app/StartupExtensions.h"
#include "core/ServerCore.h"
#include "infra/ConfigFileProxy.h"
#include "infra/Log.h"
#include "script/PythonScriptEx.h"

StatusLinkExtension::StatusLinkExtension(IMainView& view, const std::unique_ptr<CConfigFileProxy>& settings)
    : m_View(view), m_Settings(settings) {}

void StatusLinkExtension::Register(StartupExtensions& extensions) {
    extensions.Add(ExtensionPoint::OnCreateLink, [this] { return CreateLink(); });
    extensions.Add(ExtensionPoint::OnStartLink, [this] { return StartLink(); });
    extensions.Add(ExtensionPoint::OnStartRun, [this] { return StartRun(); });
    extensions.Add(ExtensionPoint::OnStopLink, [this] { return StopLink(); });
    extensions.Add(ExtensionPoint::OnStopRelease, [this] { return StopRelease(); });
    extensions.Add(ExtensionPoint::OnDestroyLink, [this] { return DestroyLink(); });
}

bool StatusLinkExtension::CreateLink() {
    // An installation without a StatusServer leaves the address empty rather
    // than removing the library.
    if (m_Settings != nullptr && m_Settings->ReadString("edtSSIP", "").empty()) {
        GetLog()->LogWarn("edtSSIP is empty: running without a StatusServer link");
        return true;
    }
    LoadSSNetCore();
    return true;
}

bool StatusLinkExtension::StartLink() {
    if (!IsSSNetCoreLoaded()) return true;
    m_View.SetStatusText("Connecting to StatusServer...");
    const std::string ip = m_Settings != nullptr ? m_Settings->ReadString("edtSSIP", "") : "";
    const int port = m_Settings != nullptr ? m_Settings->ReadInt("edtSSPort", 0) : 0;
    CSSLogicProcess* link = CSSLogicProcess::GetInstance();
    if (link == nullptr || !link->Connect(ip.c_str(), port)) {
        GetLog()->LogRun("SSLogicProcess connect failed！");
        m_View.SetStatusText("Connect to StatusServer failed");
        return false;
    }
    GetPythonScript();
    link->SetServerInfo(kServerName, kServerType, kServerIndex);
    link->SetRequestHandler(&StatusLinkExtension::OnStatusRequest, this);
    link->Start(true);
    link->SendLogin();
    GetLog()->LogRun("Status server connect successfully!");
    m_ScriptLibrary.Load(&CSSLogicProcess::SendPackThunk, link);
    m_View.SetStatusText("Connect to StatusServer OK");
    PrepareDriveVariables();
    return true;
}

bool StatusLinkExtension::StartRun() {
    if (IsSSNetCoreLoaded()) CSSLogicProcess::GetInstance()->Run();
    return true;
}

bool StatusLinkExtension::StopLink() {
    if (IsSSNetCoreLoaded() && CSSLogicProcess::HasInstance()) CSSLogicProcess::GetInstance()->Stop();
    return true;
}

bool StatusLinkExtension::StopRelease() {
    if (IsSSNetCoreLoaded() && CSSLogicProcess::HasInstance()) CSSLogicProcess::GetInstance()->Release();
    return true;
}

bool StatusLinkExtension::DestroyLink() {
    if (IsSSNetCoreLoaded()) {
        if (CSSLogicProcess::HasInstance()) CSSLogicProcess::GetInstance()->Release();
        UnloadSSNetCore();
    }
    m_ScriptLibrary.Unload();
    // Last, on the thread that made it: the interpreter ends with the link
    // that fed its scripts.
    ReleasePythonScript();
    return true;
}

bool StatusLinkExtension::OnStatusRequest(void* context, MMORPG::MMORPGPacket* packet) {
    if (packet == nullptr) return true;
    auto* self = static_cast<StatusLinkExtension*>(context);
    uint8_t type = 0;
    uint8_t subtype = 0;
    if (status::ReadRecordKind(packet->GetData(), packet->GetDataLen(), type, subtype)) {
        if (type == 6 && subtype == 1) {
            return BuildBaseInfoReply(packet, GetServerCore(), CSSLogicProcess::GetInstance());
        }
        if (type == 3 && subtype == 4 && OnSVCCommonCmd(packet)) return true;
    }
    return self->m_ScriptLibrary.Dispatch(packet);
}
