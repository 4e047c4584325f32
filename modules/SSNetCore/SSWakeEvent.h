// The link thread's stop signal, an eventfd so that the same signal ends a
// sleep, a pending connect and a blocked read at once (each polls Fd()).
// Once Signal is called it stays signalled until Reset. Any thread may
// Signal; Reset only while no thread waits on it.
#pragma once

#include <chrono>

class CSSWakeEvent {
public:
    CSSWakeEvent();
    ~CSSWakeEvent();

    CSSWakeEvent(const CSSWakeEvent&) = delete;
    CSSWakeEvent& operator=(const CSSWakeEvent&) = delete;

    // False when the system gave no eventfd; then nothing can wait on it.
    bool Valid() const { return m_Fd >= 0; }
    int Fd() const { return m_Fd; }
    void Signal();
    void Reset();
    // True when signalled (at once or within `timeout`), false after it.
    bool WaitFor(std::chrono::milliseconds timeout) const;

private:
    const int m_Fd;
};
