#include "app/AdminExtension.h"

#include "admin/AdminListener.h"
#include "admin/RelayFigures.h"
#include "app/StartupExtensions.h"
#include "core/ServerCore.h"

AdminExtension::AdminExtension() = default;

AdminExtension::~AdminExtension() { StopListening(); }

void AdminExtension::Register(StartupExtensions& extensions) {
    extensions.Add(ExtensionPoint::OnStartViews, [this] { return StartListening(); });
    extensions.Add(ExtensionPoint::OnStopLink, [this] { return StopListening(); });
    // The destroy handler releases the core before its OnDestroyLink steps,
    // and the listener reads the core: a close without a stop ends it here.
    extensions.Add(ExtensionPoint::OnDestroyViews, [this] { return StopListening(); });
    extensions.Add(ExtensionPoint::OnDestroyLink, [this] { return StopListening(); });
}

bool AdminExtension::StartListening() {
    if (m_Port == 0 || m_Listener != nullptr) return true;
    m_Figures = std::make_unique<RelayFigures>(*GetServerCore());
    m_Figures->SetRelayRunning(true);
    m_Listener = std::make_unique<AdminListener>(*m_Figures);
    if (!m_Listener->Start(m_Port)) {
        m_Listener.reset();
        m_Figures.reset();
    }
    return true;
}

bool AdminExtension::StopListening() {
    if (m_Figures != nullptr) m_Figures->SetRelayRunning(false);
    if (m_Listener != nullptr) m_Listener->Stop();
    m_Listener.reset();
    m_Figures.reset();
    return true;
}
