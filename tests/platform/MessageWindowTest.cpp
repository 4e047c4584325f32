#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <thread>
#include <vector>

#include "platform/MessageWindow.h"
#include "platform/WindowNames.h"
#include "platform/WindowPost.h"
#include "tests/platform/ChildProcess.h"

namespace {

using plat::MessageWindow;
using plat::WindowMessage;
using testsupport::ForkChild;
using testsupport::Pipe;
using testsupport::UniqueName;
using testsupport::WaitChild;

constexpr uint32_t kWaitMs = 5000;

// Dispatches until count messages came or the wait ran out.
std::vector<WindowMessage> Collect(MessageWindow& window, size_t count, uint32_t timeoutMs = kWaitMs) {
    std::vector<WindowMessage> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !window.WaitForMessage(static_cast<uint32_t>(left.count()))) break;
        window.Dispatch([&](const WindowMessage& m) { got.push_back(m); });
    }
    return got;
}

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131u) ^ (i >> 8));
    return bytes;
}

TEST(MessageWindowTest, PostedMessagesArriveInOrderOnTheWindowThread) {
    const std::string name = UniqueName("threads");
    constexpr uint64_t kCount = 60;  // well above the kernel's per-socket queue of 10
    std::promise<bool> created;
    std::vector<WindowMessage> got;
    std::thread::id handlerThread;
    std::thread::id windowThread;
    std::thread receiver([&] {
        windowThread = std::this_thread::get_id();
        auto window = MessageWindow::Create("TestClass", name);
        created.set_value(window != nullptr);
        if (!window) return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (got.size() < kCount && std::chrono::steady_clock::now() < deadline) {
            pollfd entry{window->Fd(), POLLIN, 0};
            if (::poll(&entry, 1, 200) <= 0) continue;
            window->Dispatch([&](const WindowMessage& m) {
                handlerThread = std::this_thread::get_id();
                got.push_back(m);
            });
        }
    });
    if (!created.get_future().get()) {
        receiver.join();
        FAIL() << "window not created";
    }
    const auto target = plat::FindWindow("TestClass", name);
    EXPECT_TRUE(target.has_value());
    for (uint64_t i = 0; target && i < kCount; ++i) {
        EXPECT_TRUE(plat::PostMessage(*target, plat::WM_USER + 6, i, ~i));
    }
    receiver.join();
    ASSERT_EQ(got.size(), kCount);
    for (uint64_t i = 0; i < kCount; ++i) {
        EXPECT_EQ(got[i].msg, 1030u);
        EXPECT_EQ(got[i].wParam, i);
        EXPECT_EQ(got[i].lParam, ~i);
        EXPECT_EQ(got[i].senderPid, ::getpid());
    }
    EXPECT_EQ(handlerThread, windowThread);
}

TEST(MessageWindowTest, MessagesFromAChildProcessCarryItsPid) {
    const std::string name = UniqueName("from-child");
    auto window = MessageWindow::Create("VarnholtLoader", name);
    ASSERT_NE(window, nullptr);
    const pid_t child = ForkChild([&] {
        const auto loader = plat::FindWindow("VarnholtLoader", name);
        if (!loader) return 1;
        if (!plat::PostMessage(*loader, plat::WM_APP + 3, 0, 0)) return 2;
        return plat::SendCopyData(*loader, 7, std::string("bye")) ? 0 : 3;
    });
    const auto got = Collect(*window, 2);
    EXPECT_EQ(WaitChild(child), 0);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].msg, 32771u);
    EXPECT_EQ(got[0].senderPid, child);
    EXPECT_EQ(got[1].msg, plat::WM_COPYDATA);
    EXPECT_EQ(got[1].dwData, 7u);
    EXPECT_EQ(std::string(got[1].data.begin(), got[1].data.end()), "bye");
}

TEST(MessageWindowTest, ChildWindowGetsCopyDataIntactFromTheParent) {
    const std::string name = UniqueName("child-window");
    const auto payload = Pattern(plat::kMaxCopyDataBytes);
    Pipe ready;
    const pid_t child = ForkChild([&] {
        ready.CloseRead();
        auto window = MessageWindow::Create("TfrmVarnholt", name);
        if (!window || !ready.Write(1)) return 1;
        const auto got = Collect(*window, 1);
        if (got.size() != 1 || got[0].msg != plat::WM_COPYDATA) return 2;
        if (got[0].dwData != 101 || got[0].data != payload) return 3;
        return 0;
    });
    ready.CloseWrite();
    uint32_t signal = 0;
    ASSERT_TRUE(ready.Read(&signal));
    const auto gateway = plat::FindWindow("TfrmVarnholt", name);
    ASSERT_TRUE(gateway.has_value());
    EXPECT_TRUE(plat::SendCopyData(*gateway, 101, payload.data(), payload.size()));
    EXPECT_EQ(WaitChild(child), 0);
}

TEST(MessageWindowTest, EmptyCopyDataArrives) {
    auto window = MessageWindow::Create("TestClass", UniqueName("empty"));
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(plat::SendCopyData(window->Handle(), 101, nullptr, 0));
    const auto got = Collect(*window, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].dwData, 101u);
    EXPECT_TRUE(got[0].data.empty());
}

TEST(MessageWindowTest, OversizedCopyDataIsRefusedAndNothingArrives) {
    auto window = MessageWindow::Create("TestClass", UniqueName("oversized"));
    ASSERT_NE(window, nullptr);
    const auto tooBig = Pattern(plat::kMaxCopyDataBytes + 1);
    EXPECT_FALSE(plat::SendCopyData(window->Handle(), 101, tooBig.data(), tooBig.size()));
    EXPECT_FALSE(plat::PostMessage(window->Handle(), plat::WM_COPYDATA, 0, 0));
    EXPECT_TRUE(Collect(*window, 1, 100).empty());
}

TEST(MessageWindowTest, NameTakenByALiveWindowIsRefused) {
    const std::string name = UniqueName("taken");
    auto first = MessageWindow::Create("TfrmVarnholt", name);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->IsNamed());
    MessageWindow::CreateStatus status = MessageWindow::CreateStatus::Created;
    EXPECT_EQ(MessageWindow::Create("TfrmVarnholt", name, MessageWindow::NameClash::Refuse, &status), nullptr);
    EXPECT_EQ(status, MessageWindow::CreateStatus::NameTaken);

    auto unnamed = MessageWindow::Create("TfrmVarnholt", name, MessageWindow::NameClash::KeepUnnamed, &status);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(status, MessageWindow::CreateStatus::NameTaken);
    EXPECT_FALSE(unnamed->IsNamed());
    // The name still leads to the first window.
    ASSERT_TRUE(plat::PostMessage(*plat::FindWindow("TfrmVarnholt", name), plat::WM_APP, 1, 2));
    EXPECT_EQ(Collect(*first, 1).size(), 1u);
    EXPECT_TRUE(Collect(*unnamed, 1, 100).empty());
}

TEST(MessageWindowTest, NameHeldByAnotherProcessIsFreedWhenItEnds) {
    const std::string name = UniqueName("other-process");
    Pipe ready;
    Pipe finish;
    const pid_t child = ForkChild([&] {
        ready.CloseRead();
        finish.CloseWrite();
        auto window = MessageWindow::Create("TfrmVarnholt", name);
        if (!window || !ready.Write(1)) return 1;
        uint32_t ignored;
        finish.Read(&ignored);  // returns when the parent closes its end
        return 0;
    });
    ready.CloseWrite();
    finish.CloseRead();
    uint32_t signal = 0;
    ASSERT_TRUE(ready.Read(&signal));
    MessageWindow::CreateStatus status = MessageWindow::CreateStatus::Created;
    EXPECT_EQ(MessageWindow::Create("TfrmVarnholt", name, MessageWindow::NameClash::Refuse, &status), nullptr);
    EXPECT_EQ(status, MessageWindow::CreateStatus::NameTaken);
    EXPECT_TRUE(plat::FindWindow("TfrmVarnholt", name).has_value());
    EXPECT_TRUE(plat::FindWindowByProcess(child).has_value());

    finish.CloseWrite();
    ASSERT_EQ(WaitChild(child), 0);
    EXPECT_FALSE(plat::FindWindow("TfrmVarnholt", name).has_value());
    EXPECT_FALSE(plat::FindWindowByProcess(child).has_value());
    EXPECT_NE(MessageWindow::Create("TfrmVarnholt", name), nullptr);
}

TEST(MessageWindowTest, GoneWindowIsNotFoundAndMessagesGoNowhere) {
    const std::string name = UniqueName("gone");
    auto window = MessageWindow::Create("VarnholtLoader", name);
    ASSERT_NE(window, nullptr);
    const auto handle = plat::FindWindow("VarnholtLoader", name);
    ASSERT_TRUE(handle.has_value());
    EXPECT_TRUE(plat::IsWindow(*handle));
    window.reset();
    EXPECT_FALSE(plat::FindWindow("VarnholtLoader", name).has_value());
    EXPECT_FALSE(plat::IsWindow(*handle));
    EXPECT_FALSE(plat::PostMessage(*handle, plat::WM_APP + 3, 0, 0));
    EXPECT_FALSE(plat::SendCopyData(*handle, 101, std::string("x")));
}

TEST(MessageWindowTest, TheFirstWindowAnswersForItsProcess) {
    auto first = MessageWindow::Create("TestClass", UniqueName("first"));
    auto second = MessageWindow::Create("TestClass", UniqueName("second"));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(first->AnswersForProcess());
    EXPECT_FALSE(second->AnswersForProcess());
    const auto byPid = plat::FindWindowByProcess(::getpid());
    ASSERT_TRUE(byPid.has_value());
    ASSERT_TRUE(plat::PostMessage(*byPid, plat::WM_SHOWINSTANCE, 0, 0));
    const auto got = Collect(*first, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].msg, plat::WM_SHOWINSTANCE);
    EXPECT_TRUE(Collect(*second, 1, 100).empty());
}

TEST(MessageWindowTest, UnnamedWindowIsReachedThroughItsProcess) {
    const std::string name = UniqueName("hand-over");
    Pipe ready;
    const pid_t child = ForkChild([&] {
        ready.CloseRead();
        // The first instance: its window answers for its process.
        auto window = MessageWindow::Create("TfrmVarnholt", name);
        if (!window || !ready.Write(1)) return 1;
        const auto got = Collect(*window, 1);
        return got.size() == 1 && got[0].msg == plat::WM_SHOWINSTANCE ? 0 : 2;
    });
    ready.CloseWrite();
    uint32_t signal = 0;
    ASSERT_TRUE(ready.Read(&signal));
    // The second instance keeps a window of its own without the name, and
    // hands over to the first one through the first one's pid.
    auto second = MessageWindow::Create("TfrmVarnholt", name, MessageWindow::NameClash::KeepUnnamed);
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->IsNamed());
    const auto firstInstance = plat::FindWindowByProcess(child);
    ASSERT_TRUE(firstInstance.has_value());
    EXPECT_TRUE(plat::PostMessage(*firstInstance, plat::WM_SHOWINSTANCE, 0, 0));
    EXPECT_EQ(WaitChild(child), 0);
}

TEST(MessageWindowTest, ForeignDatagramsAreDroppedAndCounted) {
    auto window = MessageWindow::Create("TestClass", UniqueName("foreign"));
    ASSERT_NE(window, nullptr);
    const int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address;
    const socklen_t length = plat::MakeAbstractAddress(window->Handle().address, &address);
    const char junk[] = "GET / HTTP/1.0\r\n\r\n and some more bytes";
    ASSERT_EQ(::sendto(sock, junk, sizeof(junk), 0, reinterpret_cast<const sockaddr*>(&address), length),
              static_cast<ssize_t>(sizeof(junk)));
    ::close(sock);
    ASSERT_TRUE(plat::PostMessage(window->Handle(), plat::WM_APP + 2, 0, 0));
    const auto got = Collect(*window, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].msg, 32770u);
    EXPECT_EQ(window->DroppedCount(), 1u);
}

TEST(MessageWindowTest, MessagesFromAnotherUserAreDropped) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to send as another user";
    auto window = MessageWindow::Create("TfrmVarnholt", UniqueName("other-user"));
    ASSERT_NE(window, nullptr);
    const plat::WindowHandle target = window->Handle();
    std::vector<std::pair<pid_t, uid_t>> refused;
    window->SetRefusedHandler([&](pid_t pid, uid_t uid) { refused.emplace_back(pid, uid); });
    const pid_t child = ForkChild([&] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 1;
        return plat::SendCopyData(target, 101, std::string("close")) ? 0 : 2;
    });
    ASSERT_EQ(WaitChild(child), 0);
    EXPECT_TRUE(Collect(*window, 1, 200).empty());
    EXPECT_EQ(window->DroppedCount(), 1u);
    // The owner hears who was refused, so it can log it.
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].first, child);
    EXPECT_EQ(refused[0].second, 65534u);
}

TEST(MessageWindowDeathTest, DispatchOffTheWindowThreadAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto window = MessageWindow::Create("TestClass", UniqueName("owner"));
    ASSERT_NE(window, nullptr);
    EXPECT_DEATH(
        {
            std::thread other([&] { window->Dispatch([](const WindowMessage&) {}); });
            other.join();
        },
        "MessageWindow::Dispatch called off the window's own thread");
}

}  // namespace
