// The admin listener's steps in the main window's flow: it listens on
// 127.0.0.1:edtAdminPort once the relay runs and stops with the relay (or
// at the latest before the core is released). Port 0 leaves it off; a port
// that cannot be bound costs an Error line, not the relay. Steps and SetPort
// run on the window thread; the listener answers on a thread of its own.
#pragma once

#include <memory>

class AdminListener;
class RelayFigures;
class StartupExtensions;

class AdminExtension {
public:
    AdminExtension();
    ~AdminExtension();
    AdminExtension(const AdminExtension&) = delete;
    AdminExtension& operator=(const AdminExtension&) = delete;

    void Register(StartupExtensions& extensions);
    // The checked edtAdminPort of the start being made (0: off).
    void SetPort(int port) { m_Port = port; }

private:
    bool StartListening();
    bool StopListening();

    int m_Port = 0;
    std::unique_ptr<RelayFigures> m_Figures;
    std::unique_ptr<AdminListener> m_Listener;
};
