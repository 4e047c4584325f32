// The close requests a service manager or a terminal sends (SIGTERM,
// SIGINT), turned into a descriptor that the window thread's event loop
// watches. Create it before any worker thread exists: the signals are
// blocked in the creating thread, every later thread inherits the mask, and
// they arrive only through Fd(). SIGPIPE is ignored process-wide, as a peer
// that went away must cost a failed write, not the process.
#pragma once

namespace plat {

class CloseSignals {
public:
    CloseSignals();
    ~CloseSignals();
    CloseSignals(const CloseSignals&) = delete;
    CloseSignals& operator=(const CloseSignals&) = delete;

    // Readable while a close request waits; -1 when it could not be made.
    int Fd() const { return m_Fd; }
    // Takes every waiting request; true when there was at least one.
    bool Drain();

private:
    int m_Fd = -1;
};

}  // namespace plat
