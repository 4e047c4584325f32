#include "ShareDefine/MMORPGPacket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ShareDefine/PackageDispatcher.h"
#include "platform/Tick.h"
#include "tests/support/CapturingLog.h"

namespace {

using MMORPG::MMORPGPacket;
using MMORPG::MMORPGPacket_Stack;
using MMORPG::tagPackHead;

const char* const kDestWarn =
    "MMORPGPacket::GetSendData  m_PackHead.DestServerType <= stMin || m_PackHead.DestServerType >= stMax  , "
    "packType=%d";

std::string DestWarn(int packType) {
    char text[256];
    std::snprintf(text, sizeof(text), kDestWarn, packType);
    return text;
}

tagPackHead SampleHead() {
    tagPackHead head;
    head.Context = 0x11223344;
    head.DestIndex = 2;
    head.packType = MMORPG::atNormal;
    head.DestServerType = MMORPG::stDataServer;
    head.SrcServerType = MMORPG::stGameServer;
    return head;
}

class PacketTest : public ::testing::Test {
protected:
    void SetUp() override { MMORPG::ForgetBadTypeWarnings(); }
    testsupport::ScopedCapturingLog log;
};

TEST_F(PacketTest, HeadIsNineLittleEndianBytesInFieldOrder) {
    char bytes[9];
    MMORPG::EncodePackHead(SampleHead(), bytes);
    EXPECT_EQ(std::string(bytes, 9), std::string("\x44\x33\x22\x11\x02\x00\x01\x01\x03", 9));
    EXPECT_EQ(MMORPG::DecodePackHead(bytes), SampleHead());
}

TEST_F(PacketTest, NewPacketIsEmptyWithZeroHeader) {
    MMORPGPacket packet;
    EXPECT_EQ(packet.m_PackHead, tagPackHead{});
    EXPECT_EQ(packet.GetDataLen(), 0);
    EXPECT_EQ(packet.m_DestIndex, 0);
    EXPECT_FALSE(packet.IsInUse());
    EXPECT_TRUE(packet.CanFree());
    EXPECT_FALSE(MMORPGPacket_Stack().CanFree());
}

TEST_F(PacketTest, GetSendDataOfEmptyPayloadIsFifteenBytes) {
    MMORPGPacket packet;
    const tagPackHead head = SampleHead();
    packet.SetPackHead(&head);
    EXPECT_EQ(packet.GetSendData(), std::string("\xFF\xCC\x09\x00\x00\x00" "\x44\x33\x22\x11\x02\x00\x01\x01\x03", 15));
    EXPECT_TRUE(log->Texts(llWarn).empty());
}

TEST_F(PacketTest, GetSendDataPutsThePayloadAfterTheHeader) {
    MMORPGPacket packet;
    const tagPackHead head = SampleHead();
    packet.SetPackHead(&head);
    packet.ReadData("\x00pay", 4);
    const std::string frame = packet.GetSendData();
    ASSERT_EQ(frame.size(), 6u + 9u + 4u);
    EXPECT_EQ(frame.substr(0, 6), std::string("\xFF\xCC\x0D\x00\x00\x00", 6));
    EXPECT_EQ(frame.substr(15), std::string("\x00pay", 4));
}

TEST_F(PacketTest, SentFrameReadsBackThroughTheFramer) {
    MMORPGPacket packet;
    const tagPackHead head = SampleHead();
    packet.SetPackHead(&head);
    packet.ReadData("body", 4);
    const std::string frame = packet.GetSendData();

    struct Received {
        tagPackHead head;
        std::string payload;
    } received;
    TnPackageDispatcher framer;
    framer.SetOnPack({[](void* context, const char* body, int len) {
                          auto* r = static_cast<Received*>(context);
                          MMORPGPacket::ReadPackHead(&r->head, body, 0);
                          r->payload.assign(body + 9, static_cast<size_t>(len - 9));
                      },
                      &received});
    framer.Feed(frame.data(), static_cast<int>(frame.size()));
    EXPECT_EQ(received.head, head);
    EXPECT_EQ(received.payload, "body");
}

TEST_F(PacketTest, DestIndexMinusOneIsSentAsFFFF) {
    MMORPGPacket packet;
    tagPackHead head = SampleHead();
    head.DestIndex = -1;
    packet.SetPackHead(&head);
    const std::string frame = packet.GetSendData();
    EXPECT_EQ(frame.substr(10, 2), std::string("\xFF\xFF", 2));
}

TEST_F(PacketTest, DestServerTypeZeroIsSentAfterOneWarnLine) {
    MMORPGPacket packet;
    tagPackHead head = SampleHead();
    head.DestServerType = MMORPG::stMin;
    head.packType = 9;
    packet.SetPackHead(&head);
    EXPECT_EQ(packet.GetSendData().size(), 15u);
    EXPECT_EQ(log->Texts(llWarn), std::vector<std::string>{DestWarn(9)});
}

TEST_F(PacketTest, DestServerTypeFourteenIsSentAfterOneWarnLine) {
    MMORPGPacket packet;
    tagPackHead head = SampleHead();
    head.DestServerType = MMORPG::stMax;
    packet.SetPackHead(&head);
    EXPECT_EQ(packet.GetSendData().size(), 15u);
    EXPECT_EQ(log->Texts(llWarn), std::vector<std::string>{DestWarn(1)});
}

TEST_F(PacketTest, SrcServerTypeOutOfRangeIsWarnedWithTypeAndPackType) {
    MMORPGPacket packet;
    tagPackHead head = SampleHead();
    head.SrcServerType = 14;
    head.packType = 7;
    packet.SetPackHead(&head);
    EXPECT_EQ(packet.GetSendData().size(), 15u);
    EXPECT_EQ(log->Texts(llWarn),
              std::vector<std::string>{"MMORPGPacket::GetSendData  m_PackHead.SrcServerType <= stMin || "
                                       "m_PackHead.SrcServerType >= stMax  , SrcServerType=14, packType=7"});
}

TEST_F(PacketTest, AFloodOfBadSourceTypesWritesItsFirstLinesThenASummary) {
    plat::TestClock clock(1000000);
    MMORPGPacket packet;
    tagPackHead head = SampleHead();
    head.SrcServerType = 200;
    packet.SetPackHead(&head);
    const size_t before = log->Texts(llWarn).size();
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(packet.GetSendData().size(), 15u);  // still framed and sent
    EXPECT_LE(log->Texts(llWarn).size() - before, 5u);
    clock.Advance(10000);
    packet.GetSendData();
    const std::vector<std::string> lines = log->Texts(llWarn);
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& line) {
                               return line.find("packets framed for sending: ") == 0 &&
                                      line.find(" more bad SrcServerType lines in the last 10 s") != std::string::npos;
                           }),
              lines.end());
}

TEST_F(PacketTest, ReadDataZeroEmptiesThePayload) {
    MMORPGPacket packet;
    packet.ReadData("abc", 3);
    EXPECT_EQ(packet.ReadData("zzz", 0), 0);
    EXPECT_EQ(packet.GetDataLen(), 0);
}

TEST_F(PacketTest, ReadDataNegativeIsLoggedAndLeavesThePayload) {
    MMORPGPacket packet;
    packet.ReadData("abc", 3);
    EXPECT_EQ(packet.ReadData("zzz", -1), -1);
    EXPECT_EQ(packet.Data(), "abc");
    EXPECT_TRUE(log->Has(llError, "MMORPGPacket::ReadData(char *lpData, int Len), Len = -1"));
}

TEST_F(PacketTest, ResetKeepsThePayloadCapacityAndTheHeader) {
    MMORPGPacket packet;
    const tagPackHead head = SampleHead();
    packet.SetPackHead(&head);
    const std::string payload(200, 'p');
    packet.ReadData(payload.data(), 200);
    packet.m_DestIndex = 5;
    const size_t capacity = packet.Data().capacity();
    const char* storage = packet.GetData();
    packet.Reset();
    EXPECT_EQ(packet.GetDataLen(), 0);
    EXPECT_EQ(packet.m_DestIndex, 0);
    EXPECT_EQ(packet.m_PackHead, head);
    EXPECT_EQ(packet.Data().capacity(), capacity);
    packet.ReadData(payload.data(), 150);
    EXPECT_EQ(packet.GetData(), storage);  // no new allocation on reuse
}

TEST_F(PacketTest, CopyFromCopiesHeaderDestIndexAndPayload) {
    MMORPGPacket source;
    const tagPackHead head = SampleHead();
    source.SetPackHead(&head);
    source.ReadData("data", 4);
    source.m_DestIndex = -1;
    MMORPGPacket_Stack scratch;
    scratch.CopyFrom(&source);
    EXPECT_EQ(scratch.m_PackHead, head);
    EXPECT_EQ(scratch.Data(), "data");
    EXPECT_EQ(scratch.m_DestIndex, -1);
}

TEST_F(PacketTest, CopyFromNullResetsButLeavesTheHeader) {
    MMORPGPacket packet;
    const tagPackHead head = SampleHead();
    packet.SetPackHead(&head);
    packet.ReadData("abc", 3);
    packet.m_DestIndex = 4;
    packet.CopyFrom(nullptr);
    EXPECT_EQ(packet.GetDataLen(), 0);
    EXPECT_EQ(packet.m_DestIndex, 0);
    EXPECT_FALSE(packet.IsInUse());
    EXPECT_EQ(packet.m_PackHead, head);
}

TEST_F(PacketTest, SetPackHeadNullResetsThePacket) {
    MMORPGPacket packet;
    packet.ReadData("abc", 3);
    packet.SetPackHead(nullptr);
    EXPECT_EQ(packet.GetDataLen(), 0);
}

TEST_F(PacketTest, ReadPackHeadWithLengthZeroOrNineIsQuiet) {
    tagPackHead head;
    EXPECT_EQ(MMORPGPacket::ReadPackHead(&head, "\x44\x33\x22\x11\x02\x00\x01\x01\x03", 0), 9);
    EXPECT_EQ(head, SampleHead());
    EXPECT_EQ(MMORPGPacket::ReadPackHead(&head, "\x44\x33\x22\x11\x02\x00\x01\x01\x03", 9), 9);
    EXPECT_EQ(head, SampleHead());
    EXPECT_TRUE(log->Entries().empty());
}

TEST_F(PacketTest, ReadPackHeadWithBadLengthLogsTheBytesInHex) {
    tagPackHead head = SampleHead();
    EXPECT_EQ(MMORPGPacket::ReadPackHead(&head, "\x01\x02\x03\x04\xAB", 5), 9);
    // The dump ends in a space and the line adds one more.
    EXPECT_TRUE(log->Has(llWarn, "Error in tagPackHead : 01 02 03 04 AB  "));
    // Only the five bytes given are read; the rest of the header is zero.
    EXPECT_EQ(head.Context, 0x04030201u);
    EXPECT_EQ(head.DestIndex, 0xAB);
    EXPECT_EQ(head.packType, 0);
    EXPECT_EQ(head.SrcServerType, 0);
}

TEST_F(PacketTest, ReadPackHeadWithLongerBufferLogsAndTakesTheFirstNine) {
    tagPackHead head;
    const std::string bytes = std::string("\x44\x33\x22\x11\x02\x00\x01\x01\x03", 9) + "xy";
    MMORPGPacket::ReadPackHead(&head, bytes.data(), 11);
    EXPECT_EQ(head, SampleHead());
    EXPECT_TRUE(log->Has(llWarn, "Error in tagPackHead : 44 33 22 11 02 00 01 01 03 78 79  "));
}

TEST_F(PacketTest, HeaderAccessorsReadAndWriteTheFields) {
    MMORPGPacket packet;
    packet.SetPackType(MMORPG::atKeepAlive);
    packet.SetDestServerType(MMORPG::stRouteServer);
    packet.SetSrcServerType(MMORPG::stGateway);
    packet.SetHeadDestIndex(-1);
    packet.SetContext(7);
    packet.SetDestIndex(12);
    EXPECT_EQ(packet.GetPackType(), 7);
    EXPECT_EQ(packet.GetDestServerType(), 5);
    EXPECT_EQ(packet.GetSrcServerType(), 2);
    EXPECT_EQ(packet.GetHeadDestIndex(), -1);
    EXPECT_EQ(packet.GetContext(), 7u);
    EXPECT_EQ(packet.GetDestIndex(), 12);
    EXPECT_EQ(packet.m_PackHead.packType, 7);
}

TEST_F(PacketTest, ConstructionRaisesThePeakToTheCurrentCount) {
    const int savedCount = MMORPGPacket::m_Count.load();
    const int savedMax = MMORPGPacket::m_MaxCount.load();
    MMORPGPacket::m_Count = savedMax + 10;
    { MMORPGPacket_Stack scratch; }
    EXPECT_EQ(MMORPGPacket::m_MaxCount.load(), savedMax + 10);
    MMORPGPacket::m_Count = 0;
    { MMORPGPacket packet; }
    EXPECT_EQ(MMORPGPacket::m_MaxCount.load(), savedMax + 10);  // a peak is never lowered
    MMORPGPacket::m_Count = savedCount;
}

}  // namespace
