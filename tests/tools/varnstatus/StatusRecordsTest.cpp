// The status console's record codecs against hand-made bytes: what it sends
// must be what the gateway reads, and what the gateway sends, whole or cut
// off, must decode without reading past the record.
#include <gtest/gtest.h>


#include <string>

#include "tests/support/Compressed.h"
#include "tools/varnstatus/BaseInfoReply.h"
#include "tools/varnstatus/CommandRunner.h"
#include "tools/varnstatus/ConsoleCommand.h"
#include "tools/varnstatus/ReplyFormatter.h"
#include "tools/varnstatus/StatusRecords.h"
#include "tools/varnstatus/ZlibInflater.h"

namespace {

using namespace varnstatus;
using namespace std::string_literals;

std::string Le32(uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return bytes;
}

std::string Le64(uint64_t value) { return Le32(static_cast<uint32_t>(value)) + Le32(static_cast<uint32_t>(value >> 32)); }

TEST(StatusRecordsTest, CommandWithThirtyOneCharNameKeepsItWhole) {
    const std::string name(31, 'N');
    const std::string record = EncodeCommonCmd(name, "x.log");
    EXPECT_EQ(record, "\x03\x04\x00"s + name + "\x00"s + "\x05"s + "x.log");
    EXPECT_EQ(record.size(), 36u + 5u);
}

TEST(StatusRecordsTest, CommandWithLongNameIsCutWhereTheGatewayCutsIt) {
    const std::string record = EncodeCommonCmd("GetErrorLogWithAVeryLongNameIndeed", "");
    ASSERT_EQ(record.size(), 36u);
    EXPECT_EQ(record.substr(3, 32), "GetErrorLogWithAVeryLongNameInd\x00"s);
    EXPECT_EQ(record[35], 0);
}

TEST(StatusRecordsTest, BaseRequestAndHeadAreWhatTheGatewayExpects) {
    EXPECT_EQ(EncodeBaseRequest(), "\x06\x01\x00"s);
    const MMORPG::tagPackHead head = ConsoleHead();
    EXPECT_EQ(head, (MMORPG::tagPackHead{0, 0, 1, 2, 13}));
}

TEST(StatusRecordsTest, LoginDecodesNameAndFixedValue) {
    LoginRecord login;
    ASSERT_TRUE(DecodeLogin("\x01\x01\x0D\x6A\x00\x00\x0EVarnholtServer"s, login));
    EXPECT_EQ(login.fixedValue, kLoginFixedValue);
    EXPECT_EQ(login.serverName, "VarnholtServer");
    EXPECT_FALSE(login.truncated);
    ASSERT_TRUE(DecodeLogin("\x01\x01\x0D\x6A\x00\x00\x09Varn"s, login));
    EXPECT_EQ(login.serverName, "Varn");
    EXPECT_TRUE(login.truncated);
    EXPECT_FALSE(DecodeLogin("\x01\x01\x0D\x6A"s, login));
}

TEST(StatusRecordsTest, InfoKeyExampleEncodesAndDecodes) {
    EXPECT_EQ((InfoKey{94, 4, 3, 2}.Encode()), 274729054u);
    EXPECT_EQ((InfoKey{94, 4, 3, 2}.Encode()), 0x1060085Eu);
    const InfoKey key = InfoKey::Decode(0x1060085E);
    EXPECT_EQ(key.id, 94u);
    EXPECT_EQ(key.group, 4u);
    EXPECT_EQ(key.itemIndex, 3u);
    EXPECT_EQ(key.serverType, 2u);
}

TEST(StatusRecordsTest, BaseInfoReplyDecodesHandMadeBytes) {
    const std::string record = "\x05\x01\x00\x02\x00"s + Le32(InfoKey{56, 0, 0, 2}.Encode()) + Le64(13) +
                               Le32(InfoKey{97, 4, 3, 2}.Encode()) + Le64(~uint64_t{0}) + "\x01\x00"s +
                               "\x5E\x08\x60\x10"s + "\x0E\x00"s + "127.0.0.1:5000";
    BaseInfoReply reply;
    ASSERT_TRUE(reply.Decode(record));
    EXPECT_FALSE(reply.Truncated());
    ASSERT_EQ(reply.Numbers().size(), 2u);
    ASSERT_EQ(reply.Texts().size(), 1u);
    EXPECT_EQ(reply.Numbers()[0].value, 13u);
    EXPECT_EQ(reply.Texts()[0].text, "127.0.0.1:5000");
    const auto lines = FormatBaseInfo(reply);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "   56  CpuPercent                   0 process           0     2  13");
    EXPECT_EQ(lines[3], "   97  QueuedPackets                4 GameServer        3     2  -1");
    EXPECT_EQ(lines[4], "   94  PeerIp                       4 GameServer        3     2  \"127.0.0.1:5000\"");
}

TEST(StatusRecordsTest, StatisticIdsShowTheirOwnLabels) {
    EXPECT_EQ(FormatInfoRow(InfoKey{37, 3, 0, 2}, "0"),
              "   37  POST_ACCEPT_ERR_COUNT        3 LoginServer       0     2  0");
    EXPECT_EQ(FormatInfoRow(InfoKey{1, 5, 0, 2}, "7"),
              "    1  Recv Total Byte              5 RouteServer       0     2  7");
    EXPECT_EQ(FormatInfoRow(InfoKey{46, 4, 0, 2}, "0"),
              "   46  MaxSendMsgQueueCount         4 GameServer        0     2  0");
}

TEST(StatusRecordsTest, TruncatedBaseInfoReplyKeepsTheWholeEntries) {
    // Three numbers announced, two and a half present.
    const std::string record = "\x05\x01\x00\x03\x00"s + Le32(InfoKey{57, 0, 0, 2}.Encode()) + Le64(4096) +
                               Le32(InfoKey{58, 0, 0, 2}.Encode()) + Le64(8192) + Le32(1) + "\x00\x00"s;
    BaseInfoReply reply;
    ASSERT_TRUE(reply.Decode(record));
    EXPECT_TRUE(reply.Truncated());
    ASSERT_EQ(reply.Numbers().size(), 2u);
    EXPECT_EQ(reply.Numbers()[1].value, 8192u);
    const auto lines = FormatBaseInfo(reply);
    EXPECT_EQ(lines.back(), "truncated reply: 2 of 3 numbers and no texts (their count is cut off) were whole");

    // A text whose length runs past the end.
    BaseInfoReply cutText;
    ASSERT_TRUE(cutText.Decode("\x05\x01\x00\x00\x00\x01\x00"s + Le32(0) + "\xFF\x00"s + "abc"));
    EXPECT_TRUE(cutText.Truncated());
    EXPECT_TRUE(cutText.Texts().empty());
    EXPECT_EQ(FormatBaseInfo(cutText).back(), "truncated reply: 0 of 0 numbers and 0 of 1 texts were whole");
}

TEST(StatusRecordsTest, CommandReplyDecodesAndRefusesBadLengths) {
    std::string name = "GetErrorLog"s;
    name.resize(32, '\0');
    CommandReply reply;
    ASSERT_EQ(DecodeCommandReply("\x01\x05\x00"s + name + Le32(3) + "abc" + "\x02" + "xy", reply), ReplyDecode::Ok);
    EXPECT_EQ(reply.name, "GetErrorLog");
    EXPECT_EQ(reply.data, "abc");
    EXPECT_EQ(reply.param, "xy");
    EXPECT_EQ(DecodeCommandReply("\x01\x05\x00"s + name + Le32(1000) + "abc", reply), ReplyDecode::Truncated);
    EXPECT_EQ(reply.data, "abc");
    EXPECT_EQ(DecodeCommandReply("\x01\x05\x00"s + name + Le32(0xFFFFFFFF), reply), ReplyDecode::BadLength);
    EXPECT_EQ(DecodeCommandReply("\x01\x05\x00"s + name.substr(0, 10), reply), ReplyDecode::Truncated);
    EXPECT_EQ(DecodeCommandReply("\x05\x01"s, reply), ReplyDecode::NotAReply);
}

TEST(StatusRecordsTest, InflaterRefusesCutStreamsTrailingBytesAndOversizedOutput) {
    std::string log;
    for (int i = 0; i < 20000; ++i) log += "line " + std::to_string(i) + "\n";
    const std::string packed = testsupport::Packed(log);
    std::string out;
    ZlibInflater inflater;
    ASSERT_TRUE(inflater.Inflate(packed, out)) << inflater.Error();
    EXPECT_EQ(out, log);
    EXPECT_FALSE(inflater.Inflate(packed.substr(0, packed.size() / 2), out));
    EXPECT_NE(inflater.Error().find("ends early"), std::string::npos);
    EXPECT_FALSE(inflater.Inflate(packed + "x", out));
    ZlibInflater small(1000);
    EXPECT_FALSE(small.Inflate(packed, out));
    EXPECT_NE(small.Error().find("exceeds 1000"), std::string::npos);
}

TEST(StatusRecordsTest, CommandLinesParseAndCheckLengths) {
    ConsoleCommand command;
    std::string error;
    ASSERT_TRUE(ConsoleCommand::Parse("  cmd Reload  some param ", command, error));
    EXPECT_EQ(command.kind, CommandKind::Other);
    EXPECT_EQ(command.name, "Reload");
    EXPECT_EQ(command.param, "some param");
    ASSERT_TRUE(ConsoleCommand::Parse("GetErrorLog D:\\ServerLog\\a b.log", command, error));
    EXPECT_EQ(command.param, "D:\\ServerLog\\a b.log");
    EXPECT_EQ(CommandRunner::DefaultOutPath(command.param), "a b.log");
    EXPECT_EQ(CommandRunner::DefaultOutPath(".."), "errorlog.out");
    EXPECT_FALSE(ConsoleCommand::Parse("cmd " + std::string(32, 'n'), command, error));
    EXPECT_FALSE(ConsoleCommand::Parse("cmd Name " + std::string(256, 'p'), command, error));
    EXPECT_FALSE(ConsoleCommand::Parse("GetErrorLog", command, error));
    EXPECT_FALSE(ConsoleCommand::Parse("base now", command, error));
}

}  // namespace
