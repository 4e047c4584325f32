// The single-instance guard: a named shared memory of 4 bytes that holds the
// process id of the instance that owns a sign. Acquire() says whether this
// process now owns it or which live process does. Ownership is a lock the
// kernel drops when the owner ends, crashed or not, so a dead owner is always
// taken over and a reused pid can never lock the sign out. One guard object
// per owner, used from one thread; the destructor gives ownership up.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace plat {

class SingleInstanceGuard {
public:
    enum class Outcome {
        Owned,         // this guard owns the sign; OwnerPid() is our pid
        OwnedByOther,  // another live guard owns it; OwnerPid() is its process
        Failed,        // the shared memory could not be opened or mapped
    };

    SingleInstanceGuard() = default;
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    // Checks and takes the sign in one step that other processes cannot
    // split. A guard that owned a sign releases it first.
    Outcome Acquire(const std::string& name);
    // Gives ownership up: clears the 4 bytes and removes the name, so the
    // next acquirer starts afresh. Does nothing for a guard that does not own.
    void Release();

    bool Owns() const { return m_Value != nullptr; }
    // The owner seen by the last Acquire (0 before, or after Failed).
    pid_t OwnerPid() const { return m_OwnerPid; }

    // The shared-memory name for a Windows object name: "Global\\_VarnholtServer" ->
    // "/varnholt-Global__VarnholtServer" (slashes and backslashes become '_').
    static std::string SharedMemoryName(const std::string& name);

private:
    Outcome TryAcquire(const std::string& shmName, bool* retry);

    std::string m_ShmName;
    int m_Fd = -1;                 // open only while we own
    uint32_t* m_Value = nullptr;   // the 4 mapped bytes, while we own
    pid_t m_OwnerPid = 0;
};

}  // namespace plat
