// A message window: the receiving end of window messages, found by other
// processes by its class and window name (and by its process, see
// WindowNames.h). The thread that creates it owns it: it watches Fd() in its
// event loop (poll/select, readable when messages wait) and calls Dispatch(),
// which hands each waiting message to a handler on that thread. Only the
// creating thread may dispatch; senders use WindowPost.h from anywhere.
// Messages from processes of another user (other than root) are dropped.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/WindowMessage.h"

namespace plat {

class MessageWindow {
public:
    // What Create does when a live window already holds the class and name.
    enum class NameClash {
        Refuse,       // no window
        KeepUnnamed,  // a window reachable only through its process (as a second
                      // Windows window of the same name that FindWindow never returns)
    };
    enum class CreateStatus { Created, NameTaken, Failed };
    using Handler = std::function<void(const WindowMessage&)>;

    // At most this many messages are handed out per Dispatch call, so a
    // handler that posts to its own window cannot hold the loop for ever;
    // the descriptor stays readable while more wait.
    static constexpr size_t kMaxDispatchBatch = 256;

    // Registers a window owned by the calling thread; nullptr when the name
    // is taken (NameClash::Refuse) or no socket could be made. status, when
    // given, says which.
    static std::unique_ptr<MessageWindow> Create(const std::string& className, const std::string& windowName,
                                                 NameClash clash = NameClash::Refuse,
                                                 CreateStatus* status = nullptr);
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // Readable (POLLIN) while messages wait. Owned by the window.
    int Fd() const { return m_PollFd; }
    // Hands every waiting message (up to kMaxDispatchBatch) to the handler,
    // without blocking; returns how many it handed out. Owner thread only.
    size_t Dispatch(const Handler& handler);
    // Told of every message refused because its sender runs under another
    // user account, so the owner can log it. Owner thread only.
    using RefusedHandler = std::function<void(pid_t senderPid, uid_t senderUid)>;
    void SetRefusedHandler(RefusedHandler handler) { m_Refused = std::move(handler); }
    // Blocks the owner thread until a message waits or timeoutMs passed.
    bool WaitForMessage(uint32_t timeoutMs) const;

    const std::string& ClassName() const { return m_ClassName; }
    const std::string& WindowName() const { return m_WindowName; }
    // Whether FindWindow(ClassName(), WindowName()) reaches this window.
    bool IsNamed() const { return m_NamedFd >= 0; }
    // Whether FindWindowByProcess(getpid()) reaches this window.
    bool AnswersForProcess() const { return m_ProcessFd >= 0; }
    // How others reach this window: by name when named, else by its process;
    // empty address when neither.
    WindowHandle Handle() const;
    // Datagrams thrown away: malformed, truncated or from another user.
    uint64_t DroppedCount() const { return m_Dropped; }

private:
    MessageWindow(std::string className, std::string windowName);
    bool AddToPoll(int fd);
    size_t DrainSocket(int fd, const Handler& handler, size_t budget);
    bool Accept(const uint8_t* bytes, size_t size, bool truncated, uid_t uid, pid_t pid, WindowMessage* message);
    static bool FromOwnAccount(uid_t uid);
    void CheckOwnerThread(const char* operation) const;

    const std::string m_ClassName;
    const std::string m_WindowName;
    const std::thread::id m_Owner;
    int m_PollFd = -1;      // epoll over the two sockets below
    int m_NamedFd = -1;     // bound to the class/name, or -1
    int m_ProcessFd = -1;   // bound to the process alias, or -1
    std::vector<uint8_t> m_Buffer;
    uint64_t m_Dropped = 0;
    RefusedHandler m_Refused;
};

}  // namespace plat
