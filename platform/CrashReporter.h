// CrashReporter: the process-wide crash reporter. Once installed, a fatal
// signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) on any thread writes a
// report file "Crash_<YYYYMMDD-HHMMSS>_<pid>.txt" into the report directory:
// the thread's name, the matching Windows exception code and its name, the
// fault address and the call stack. Then the default action ends the process.
//
// Install() is called once on the window thread at start-up. Every other
// thread should call PrepareCurrentThread() when it starts so that a stack
// overflow there can still be reported (the handler needs a stack of its own).
// The exception names come from the caller, so this layer knows no names.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// Maps an exception code to its name. Called inside the signal handler, so it
// must be async-signal-safe (a switch returning literals is).
using ExceptionCodeNameFunc = const char* (*)(uint32_t code);

class CrashReporter {
public:
    // Creates the directory if needed and installs the handlers. False when
    // the directory name is too long or a handler cannot be installed.
    // A second call changes nothing and answers whether the first succeeded.
    static bool Install(const std::string& reportDirectory, ExceptionCodeNameFunc codeName);
    static bool IsActive();
    // Gives the calling thread an alternate signal stack and records its
    // stack bounds; does nothing before Install() or when already done.
    static void PrepareCurrentThread();

    // The Windows exception code for a fatal signal and its si_code;
    // inStackGuard tells a stack overflow from other access violations.
    // 0 when nothing matches.
    static uint32_t ExceptionCodeForSignal(int signal, int code, bool inStackGuard);
};

}  // namespace plat
