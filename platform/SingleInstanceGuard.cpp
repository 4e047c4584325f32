#include "SingleInstanceGuard.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/NameHash.h"

namespace plat {
namespace {

// Two one-byte locks on the object (open-file-description locks, so two
// guards in one process exclude each other too, and the kernel drops them
// when the last descriptor closes, crash included):
//   byte 0, ownership: held by the owner for as long as it owns;
//   byte 1, gate: held for the moment of one check-and-take or release, so
//   nobody reads the 4 bytes between an owner's lock and its write.
constexpr off_t kOwnershipByte = 0;
constexpr off_t kGateByte = 1;
constexpr size_t kValueBytes = 4;
constexpr int kMaxAttempts = 16;

bool LockByte(int fd, off_t byte, bool wait) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    int rc;
    do {
        rc = ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

void UnlockByte(int fd, off_t byte) {
    struct flock lock {};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    ::fcntl(fd, F_OFD_SETLK, &lock);
}

// Whether the name still leads to the object we hold open. A releasing owner
// removes the name; whoever opened the old object just before must start
// again, or two objects would each get an owner.
bool StillLinked(int fd, const std::string& shmName) {
    struct stat held {};
    struct stat current {};
    const int probe = ::shm_open(shmName.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool same = ::fstat(fd, &held) == 0 && ::fstat(probe, &current) == 0 && held.st_dev == current.st_dev &&
                      held.st_ino == current.st_ino;
    ::close(probe);
    return same;
}

bool EnsureSize(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return false;
    return info.st_size >= static_cast<off_t>(kValueBytes) || ::ftruncate(fd, kValueBytes) == 0;
}

uint32_t* MapValue(int fd) {
    void* mapped = ::mmap(nullptr, kValueBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return mapped == MAP_FAILED ? nullptr : static_cast<uint32_t*>(mapped);
}

// Other processes touch the same 4 bytes, so every access is atomic.
uint32_t Load(uint32_t* value) { return std::atomic_ref<uint32_t>(*value).load(std::memory_order_acquire); }
void Store(uint32_t* value, uint32_t pid) { std::atomic_ref<uint32_t>(*value).store(pid, std::memory_order_release); }

}  // namespace

SingleInstanceGuard::~SingleInstanceGuard() { Release(); }

std::string SingleInstanceGuard::SharedMemoryName(const std::string& name) {
    std::string shmName = "/varnholt-";
    for (const char c : name) shmName += (c == '/' || c == '\\' || c == '\0') ? '_' : c;
    if (shmName.size() <= NAME_MAX) return shmName;
    char hex[17];
    std::snprintf(hex, sizeof(hex), "%016llx", static_cast<unsigned long long>(Fnv1a64(name)));
    return std::string("/varnholt-#") + hex;
}

SingleInstanceGuard::Outcome SingleInstanceGuard::Acquire(const std::string& name) {
    Release();
    m_OwnerPid = 0;
    const std::string shmName = SharedMemoryName(name);
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        bool retry = false;
        const Outcome outcome = TryAcquire(shmName, &retry);
        if (!retry) return outcome;
    }
    return Outcome::Failed;
}

SingleInstanceGuard::Outcome SingleInstanceGuard::TryAcquire(const std::string& shmName, bool* retry) {
    const int fd = ::shm_open(shmName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return Outcome::Failed;
    if (!LockByte(fd, kGateByte, true)) {
        ::close(fd);
        return Outcome::Failed;
    }
    if (!StillLinked(fd, shmName)) {
        ::close(fd);  // drops the gate with it
        *retry = true;
        return Outcome::Failed;
    }
    uint32_t* value = EnsureSize(fd) ? MapValue(fd) : nullptr;
    if (value == nullptr) {
        ::close(fd);
        return Outcome::Failed;
    }
    if (!LockByte(fd, kOwnershipByte, false)) {
        // A live guard holds the sign; it wrote its pid before it let the gate go.
        m_OwnerPid = static_cast<pid_t>(Load(value));
        ::munmap(value, kValueBytes);
        ::close(fd);
        return Outcome::OwnedByOther;
    }
    // Free, or left by an owner that ended without releasing: ours now.
    Store(value, static_cast<uint32_t>(::getpid()));
    UnlockByte(fd, kGateByte);
    m_ShmName = shmName;
    m_Fd = fd;
    m_Value = value;
    m_OwnerPid = ::getpid();
    return Outcome::Owned;
}

void SingleInstanceGuard::Release() {
    if (m_Value == nullptr) return;
    LockByte(m_Fd, kGateByte, true);
    if (Load(m_Value) == static_cast<uint32_t>(::getpid())) Store(m_Value, 0);
    // Only the owner removes the name, and only under the gate, so a waiting
    // acquirer notices (StillLinked) and opens the fresh object instead.
    ::shm_unlink(m_ShmName.c_str());
    ::munmap(m_Value, kValueBytes);
    ::close(m_Fd);  // drops ownership and gate
    m_Value = nullptr;
    m_Fd = -1;
    m_ShmName.clear();
}

}  // namespace plat
