// The signals a service manager or a terminal sends, turned into a
// descriptor that the window thread's event loop watches: SIGTERM and SIGINT
// ask for a close, SIGHUP for the log files to be opened anew (after a
// rotation moved them away). Create it before any worker thread exists: the
// signals are blocked in the creating thread, every later thread inherits the
// mask, and they arrive only through Fd(). SIGPIPE is ignored process-wide,
// as a peer that went away must cost a failed write, not the process.
#pragma once

namespace plat {

class ServiceSignals {
public:
    struct Taken {
        bool close = false;       // SIGTERM or SIGINT
        bool reopenLogs = false;  // SIGHUP
    };

    ServiceSignals();
    ~ServiceSignals();
    ServiceSignals(const ServiceSignals&) = delete;
    ServiceSignals& operator=(const ServiceSignals&) = delete;

    // Readable while a request waits; -1 when it could not be made.
    int Fd() const { return m_Fd; }
    // Takes every waiting request.
    Taken Drain();

private:
    int m_Fd = -1;
};

}  // namespace plat
