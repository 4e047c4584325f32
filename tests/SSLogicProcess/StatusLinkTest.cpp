// The StatusServer link end to end inside one process: the real link module
// connected to a StatusServer written in the test on 127.0.0.1, the request
// thread or single request passes, the script engine with the script module
// in script mode, and the GetErrorLog handler against a log folder of the
// test's own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SSLogicProcess/SSLogicProcess.h"
#include "SSLogicProcess/SSProcessDLLLoad.h"
#include "SSLogicProcess/StatusCommandHandlers.h"
#include "SSLogicProcess/StatusRecords.h"
#include "platform/Tick.h"
#include "script/PythonScriptEx.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PacketFrames.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using testing::HasSubstr;
using testsupport::ParsedPacket;

// Answers every packet with the outcome of SendPack called in each way a
// script may call it, joined by '|', after one good send of its own.
constexpr const char* kScript = R"(import struct
import _IPY_SSLogicProcess as link
sender = link.new_IPY_SSLogicProcess()

def send(head, head_length, record, record_length):
    return link.IPY_SSLogicProcess_SendPack(sender, head, head_length, record, record_length)

def attempt(call):
    try:
        return 'ok:%r' % (call(),)
    except Exception as error:
        return '%s:%s' % (type(error).__name__, error)

def ServerStatusOnCommand(packet):
    head = struct.pack('<IhBBB', 0, 0, 0, 13, 13)
    results = ['bytes' if isinstance(packet, bytes) else 'str', packet[:2].hex(), str(len(packet)),
               attempt(lambda: send(head, 9, b'\x09\x09', 2)),
               attempt(lambda: send('123456789', 9, b'ab', 2)),
               attempt(lambda: send(head, 10, b'ab', 2)),
               attempt(lambda: send(head, 9, b'ab', 3)),
               attempt(lambda: send(head, 0, b'ab', 2)),
               attempt(lambda: send(head, 9, None, 2))]
    text = '|'.join(results).encode()
    send(head, 9, text, len(text))
)";

// One folder for the whole process: the script engine reads script/ from
// the working directory once, when it is first used.
class StatusLinkEnvironment : public testing::Environment {
public:
    void SetUp() override {
        std::filesystem::create_directories(m_Root / "script");
        std::filesystem::create_directories(m_Root / "logs");
        std::ofstream(m_Root / "script/ProcessServerStatus.py") << kScript;
        ASSERT_EQ(::chdir(m_Root.Path().c_str()), 0);
        logtest::SetLogServiceForTesting(&s_Log);
        s_Log.SetLogDirectory((m_Root / "logs/").c_str(), "");
        LoadSSNetCore();
    }
    void TearDown() override {
        ReleasePythonScript();
        UnloadSSNetCore();
        logtest::SetLogServiceForTesting(nullptr);
    }

    static testsupport::CapturingLog s_Log;

private:
    testsupport::TempDir m_Root;
};

testsupport::CapturingLog StatusLinkEnvironment::s_Log;
const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new StatusLinkEnvironment);

class StatusLinkTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(IsSSNetCoreLoaded()) << "libSSNetCore.so must sit beside the test";
        StatusLinkEnvironment::s_Log.Clear();
        Link();
    }
    void TearDown() override {
        if (CSSLogicProcess::HasInstance()) CSSLogicProcess::GetInstance()->Release();
    }

    void Link() {
        link = CSSLogicProcess::GetInstance();
        link->SetServerInfo("VarnholtServer", 2, 0);
        ASSERT_TRUE(link->Connect("127.0.0.1", listener.Port()));
        peer = listener.Accept(5s);
        ASSERT_NE(peer, nullptr);
    }

    // The next packet the gateway sent, or an empty one (packType 0) after the time.
    ParsedPacket Next(std::chrono::milliseconds timeout = 5s) {
        std::string stream = peer->Receive(6, timeout);
        ParsedPacket packet;
        if (stream.size() < 6) return packet;
        uint32_t length = 0;
        for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<uint8_t>(stream[2 + i])) << (8 * i);
        stream += peer->Receive(length, timeout);
        testsupport::TakeFrame(stream, packet);
        return packet;
    }
    void Request(const std::string& record, int16_t destIndex = 0) {
        ASSERT_TRUE(peer->Send(testsupport::PacketFrame({0, destIndex, 1, 2, 13}, record)));
    }
    // Runs request passes until one comes back with nothing waiting.
    void PassUntilIdle() {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (link->RequestPass() != CSSLogicProcess::kIdleWaitMs && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
    }
    void PassUntilQueued() {
        std::this_thread::sleep_for(50ms);  // the link core's thread reads the bytes
        PassUntilIdle();
    }

    nettest::LoopbackListener listener;
    std::unique_ptr<nettest::LoopbackPeer> peer;
    CSSLogicProcess* link = nullptr;
};

TEST_F(StatusLinkTest, TheLoginCarriesTheNameCutTo59CharactersWithStatusServerTypes) {
    link->SetServerInfo(std::string(70, 'v').c_str(), 2, 0);
    link->SendLogin();
    const ParsedPacket login = Next();
    EXPECT_EQ(login.destServerType, 13);
    EXPECT_EQ(login.srcServerType, 13);
    EXPECT_EQ(login.packType, 0);
    EXPECT_EQ(login.payload, "\x01\x01\x0D\x6A\x00\x00\x3B"s + std::string(59, 'v'));
}

TEST_F(StatusLinkTest, WithoutAHostHandlerABaseRequestGetsTwoEntriesAndOtherRequestsAreDropped) {
    link->Start(false);
    link->Run();
    Request("\x07\x07\x00"s);
    Request("\x06\x01\x00"s, 7);
    const ParsedPacket reply = Next();
    EXPECT_EQ(reply.destIndex, 7);
    EXPECT_EQ(reply.destServerType, 13);
    ASSERT_EQ(reply.payload.size(), 5u + 2 * 12 + 2);
    EXPECT_EQ(reply.payload.substr(0, 5), "\x05\x01\x00\x02\x00"s);
    EXPECT_EQ(reply.payload.substr(5, 4), "\x38\x00\x00\x10"s);   // id 56, group 0, index 0, type 2
    EXPECT_EQ(reply.payload.substr(17, 4), "\x39\x00\x00\x10"s);  // id 57
    EXPECT_EQ(reply.payload.substr(29), "\x00\x00"s);
    EXPECT_EQ(link->GetScriptQueueSize(), 0);
    EXPECT_EQ(Next(300ms).packType, 0) << "the unknown request got an answer";
    EXPECT_EQ(link->Stop(), 1);
}

TEST_F(StatusLinkTest, KeepAlivesGoOut60SecondsAfterConstructionAndThenEvery60Seconds) {
    link->Release();
    plat::TestClock clock(5000);
    Link();
    clock.Advance(59999);
    PassUntilIdle();
    EXPECT_EQ(Next(200ms).packType, 0) << "a keep-alive before the minute was up";
    clock.Advance(1);
    PassUntilIdle();
    EXPECT_EQ(Next().payload, "\x01\x04\xB3"s);
    clock.Advance(59999);
    PassUntilIdle();
    EXPECT_EQ(Next(200ms).packType, 0);
    clock.Advance(1);
    PassUntilIdle();
    EXPECT_EQ(Next().payload, "\x01\x04\xB3"s);
}

TEST_F(StatusLinkTest, AReconnectedLinkLogsInOnceMore) {
    PassUntilIdle();
    peer->Close();
    peer = listener.Accept(5s);
    ASSERT_NE(peer, nullptr) << "the link core did not reconnect";
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    ParsedPacket login;
    while (login.packType == 0 && login.payload.empty() && std::chrono::steady_clock::now() < deadline) {
        link->RequestPass();
        login = Next(20ms);
    }
    EXPECT_EQ(login.payload, "\x01\x01\x0D\x6A\x00\x00\x0EVarnholtServer"s);
    PassUntilIdle();
    PassUntilIdle();
    EXPECT_EQ(Next(200ms).payload, "") << "logged in twice for one reconnection";
}

TEST_F(StatusLinkTest, TheScriptGetsTheFramedPacketAsBytesAndSendPackRefusesBadArguments) {
    link->Start(true);
    const std::string command = status::EncodeCommonCmd("Unknown", "p");
    Request(command);
    PassUntilQueued();
    const ParsedPacket good = Next();
    EXPECT_EQ(good.payload, "\x09\x09"s);
    const ParsedPacket results = Next();
    const std::string frameLength = std::to_string(6 + 9 + command.size());
    EXPECT_EQ(results.payload,
              "bytes|ffcc|" + frameLength + "|ok:17"
              "|TypeError:in method 'IPY_SSLogicProcess_SendPack', argument 2 of type 'char *'"
              "|ValueError:in method 'IPY_SSLogicProcess_SendPack', argument 3 (headLength) is larger than argument 2 (head)"
              "|ValueError:in method 'IPY_SSLogicProcess_SendPack', argument 5 (contentLength) is larger than argument 4 (content)"
              "|ok:0|ok:0");
    EXPECT_EQ(StatusLinkEnvironment::s_Log.CountContaining("SendPack:szContent == NULL || nLen == 0"), 2);
    EXPECT_EQ(link->GetScriptQueueSize(), 0) << "the script queue was not drained";
}

TEST_F(StatusLinkTest, TheSendFunctionOfTheScriptLibrarySendsNothingAfterRelease) {
    void* context = link;
    const std::string head = status::EncodeHead(status::StatusHead());
    EXPECT_EQ(CSSLogicProcess::SendPackThunk(context, head.data(), 9, "\x01\x04\xB3", 3), 6 + 9 + 3);
    link->Release();
    EXPECT_EQ(CSSLogicProcess::SendPackThunk(context, head.data(), 9, "\x01\x04\xB3", 3), 0);
}

class GetErrorLogTest : public StatusLinkTest {
protected:
    std::string LogFolder() { return GetLog()->GetLogDirectory(); }
    void Ask(const std::string& name) {
        MMORPG::MMORPGPacket_Stack request;
        request.m_PackHead = status::StatusHead(7);
        const std::string record = status::EncodeCommonCmd("GetErrorLog", name);
        request.AssignPayload(record.data(), record.size());
        EXPECT_TRUE(OnSVCCommonCmd(&request));
    }
    // The data of the reply, decompressed; "" for an empty data field.
    std::string ReplyData(const std::string& name) {
        const ParsedPacket reply = Next();
        EXPECT_EQ(reply.destIndex, 7);
        EXPECT_EQ(reply.payload.substr(0, 14), "\x01\x05\x00GetErrorLog"s);
        const uint32_t length = static_cast<uint8_t>(reply.payload[35]) | (static_cast<uint8_t>(reply.payload[36]) << 8) |
                                (static_cast<uint8_t>(reply.payload[37]) << 16);
        EXPECT_EQ(reply.payload.substr(39 + length), static_cast<char>(name.size()) + name);
        if (length == 0) return "";
        std::string plain(1 << 20, '\0');
        uLongf plainLength = plain.size();
        EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(plain.data()), &plainLength,
                             reinterpret_cast<const Bytef*>(reply.payload.data() + 39), length),
                  Z_OK);
        plain.resize(plainLength);
        return plain;
    }
};

TEST_F(GetErrorLogTest, AFileOfTheLogFolderComesBackCompressedAndEveryFailureAnswersEmpty) {
    std::string contents;
    for (int i = 0; i < 2000; ++i) contents += "2026-12-09 10:00:00.000 [ Info] [1] line " + std::to_string(i) + "\n";
    std::ofstream(LogFolder() + "day.log") << contents;
    std::ofstream(LogFolder() + "empty.log").close();
    ::mkfifo((LogFolder() + "pipe").c_str(), 0600);

    Ask("day.log");
    EXPECT_EQ(ReplyData("day.log"), contents);
    Ask("missing.log");
    EXPECT_EQ(ReplyData("missing.log"), "");
    EXPECT_EQ(StatusLinkEnvironment::s_Log.CountContaining("Can't find file:"), 1);
    Ask("empty.log");
    EXPECT_EQ(ReplyData("empty.log"), "");
    Ask("");  // the folder itself
    EXPECT_EQ(ReplyData(""), "");
    Ask("pipe");  // must neither block nor be read
    EXPECT_EQ(ReplyData("pipe"), "");
}

TEST_F(GetErrorLogTest, NamesLeadingOutOfTheLogFolderAreRefusedWithoutAReply) {
    const std::string outside = std::filesystem::path(LogFolder()).parent_path().parent_path() / "secret.txt";
    std::ofstream(outside) << "not for the console";
    std::filesystem::create_symlink(outside, LogFolder() + "link.log");
    std::filesystem::create_directories(LogFolder() + "sub");
    std::ofstream(LogFolder() + "sub/inner.log") << "inner";

    for (const std::string& name : std::vector<std::string>{"../secret.txt", "..\\secret.txt", outside, "link.log", "sub/../../secret.txt"}) {
        Ask(name);
        EXPECT_TRUE(StatusLinkEnvironment::s_Log.Has(llInfo, "Invalid filename: " + name)) << name;
    }
    EXPECT_EQ(Next(300ms).payload, "") << "a refused name got a reply";
    Ask("sub/inner.log");
    EXPECT_EQ(ReplyData("sub/inner.log"), "inner");
}

TEST_F(StatusLinkTest, TheScriptLibraryAnswersListLogFilesAndDeclinesOtherPackets) {
    struct Sent {
        static int Capture(void* context, const char*, int, const char* content, int length) {
            static_cast<std::string*>(context)->assign(content, static_cast<size_t>(length));
            return length;
        }
    };
    std::string sent;
    SSProcessDLLLoad library;
    ASSERT_TRUE(library.Load(&Sent::Capture, &sent)) << "libSSCommonLogic.so not found on the run path";
    EXPECT_FALSE(library.Load(&Sent::Capture, &sent)) << "a second load must be refused";
    MMORPG::MMORPGPacket_Stack packet;
    const std::string other = status::EncodeCommonCmd("Other", "");
    packet.AssignPayload(other.data(), other.size());
    EXPECT_FALSE(library.Dispatch(&packet));
    const std::string list = status::EncodeCommonCmd("ListLogFiles", "");
    packet.AssignPayload(list.data(), list.size());
    EXPECT_TRUE(library.Dispatch(&packet));
    EXPECT_EQ(sent.substr(0, 15), "\x01\x05\x00ListLogFiles"s);
    library.Unload();
    EXPECT_FALSE(library.Dispatch(&packet));
}

}  // namespace
