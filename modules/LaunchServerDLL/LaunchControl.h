// The launch controller of the LaunchServerDLL module: the one object through
// which an outside launcher starts, stops and watches the gateway. The
// module's exported GetLaunchControlInstance() creates it on the first call
// and returns the same object on every later one, until
// ReleaseLaunchControlInstance() destroys it. The endpoint and the protocol
// are described in LaunchProtocol.h.
//
// Init, Poll and the On... notices are called on the gateway's window thread;
// the request callbacks run on that thread, inside Poll. GetState may be
// called from any thread.
//
// The program calls the operations by their position in the table of virtual
// operations, so the order of the declarations is part of the module's
// interface: never reorder, only replace a Reserved entry.
#pragma once

// A start or stop request of the launcher: true when the gateway did it,
// false when it refused (already running, not running).
using LaunchRequestFunc = bool (*)();

// What GetState reports, following the On... notices.
enum ELaunchState : int {
    lsInit = 0,      // no notice yet
    lsReady = 1,     // OnSelfReady
    lsStarting = 2,  // OnStartBegin
    lsRunning = 3,   // OnStartDone
    lsStopping = 4,  // OnStopBegin
    lsStopped = 5,   // OnStopDone
};

class LaunchControl {
public:
    /*  0 */ virtual int GetState() = 0;  // an ELaunchState
    // Opens the endpoint and keeps the two callbacks; reserved is 0. False,
    // with the reason in GetLastError(), when a callback is missing or the
    // endpoint cannot be opened (another process holds the name). A second
    // call while open only replaces the callbacks.
    /*  1 */ virtual bool Init(LaunchRequestFunc startRequest, LaunchRequestFunc stopRequest, int reserved) = 0;
    // "varnholt-launch/<name>", the abstract socket name ("" before Init).
    /*  2 */ virtual const char* GetEndpointName() = 0;
    // Why the last Init failed ("" when it did not).
    /*  3 */ virtual const char* GetLastError() = 0;
    // Never blocks: accepts waiting launchers, reads what they sent, runs each
    // complete start or stop request through its callback and answers with
    // the callback's result; answers status requests from the notices. While
    // a callback runs, a Poll from inside it (the window keeps pumping
    // messages) answers status and refuses further start and stop requests.
    // Does nothing before Init or when no launcher has sent anything.
    /*  4 */ virtual void Poll() = 0;
    /*  5 */ virtual void OnSelfReady() = 0;
    /*  6 */ virtual void OnStartBegin() = 0;
    /*  7 */ virtual void OnStartDone() = 0;
    /*  8 */ virtual void OnStopBegin() = 0;
    /*  9 */ virtual void OnStopDone() = 0;

protected:
    // Only ReleaseLaunchControlInstance destroys the object.
    ~LaunchControl() = default;
};

// The module's exports.
extern "C" {
using GetLaunchControlInstanceFunc = LaunchControl* (*)();
using ReleaseLaunchControlInstanceFunc = void (*)();
}
