// The status records byte for byte, as the StatusServer and the operators'
// tools read and write them.
#include <gtest/gtest.h>

#include <string>

#include "SSLogicProcess/ProcessMetrics.h"
#include "SSLogicProcess/StatusCommandHandlers.h"
#include "SSLogicProcess/StatusRecords.h"
#include "ShareDefine/MMORPGPacket.h"

namespace {

using namespace std::string_literals;

std::string Command(const std::string& name32, int paramLength, const std::string& paramBytes) {
    return "\x03\x04\x00"s + name32 + static_cast<char>(paramLength) + paramBytes;
}

TEST(StatusRecordsTest, LoginAndKeepAliveAreTheBytesTheStatusServerExpects) {
    EXPECT_EQ(status::EncodeServerLogin("VarnholtServer"), "\x01\x01\x0D\x6A\x00\x00\x0EVarnholtServer"s);
    EXPECT_EQ(status::EncodeKeepAlive(), "\x01\x04\xB3"s);
    EXPECT_EQ(status::EncodeHead(status::StatusHead(7)), "\x00\x00\x00\x00\x07\x00\x00\x0D\x0D"s);
}

TEST(StatusRecordsTest, CommonCommandReadsShortLongAndUnterminatedRecords) {
    status::tagCSVCommonCmd command;
    status::CommonCmdRead outcome;
    const std::string full32(32, 'N');  // no NUL: only 31 characters count
    std::string exact = Command(full32, 3, "a.l");
    EXPECT_EQ(status::ReadCommonCmd(exact.data(), static_cast<int>(exact.size()), command, &outcome), 39);
    EXPECT_EQ(outcome, status::CommonCmdRead::Ok);
    EXPECT_EQ(command.Name(), std::string(31, 'N'));
    EXPECT_EQ(command.param, "a.l");

    const std::string name = std::string("GetErrorLog") + std::string(21, '\0');
    const std::string longer = Command(name, 2, "ab") + "zz";
    EXPECT_EQ(status::ReadCommonCmd(longer.data(), static_cast<int>(longer.size()), command, &outcome), 0);
    EXPECT_EQ(outcome, status::CommonCmdRead::LengthMismatch);
    EXPECT_EQ(command.Name(), "GetErrorLog");
    EXPECT_EQ(command.param, "ab");

    const std::string cut = Command(name, 9, "ab");  // P promises more than is there
    EXPECT_EQ(status::ReadCommonCmd(cut.data(), static_cast<int>(cut.size()), command, &outcome), 0);
    EXPECT_EQ(outcome, status::CommonCmdRead::Short);
    EXPECT_EQ(command.Name(), "GetErrorLog");
    EXPECT_EQ(command.param, "");

    const std::string stub = "\x03\x04\x00GetErr"s;  // not even the fixed part: nothing is read
    EXPECT_EQ(status::ReadCommonCmd(stub.data(), static_cast<int>(stub.size()), command, &outcome), 0);
    EXPECT_EQ(command.Name(), "");

    // A request without payload reads nothing (a length of 0 would
    // otherwise be taken as a promise that the fixed part is there).
    MMORPG::MMORPGPacket empty;
    EXPECT_EQ(ReadCommonCmdLogged(&empty, command), 0);
    EXPECT_EQ(command.Name(), "");
}

TEST(StatusRecordsTest, CommandAndReplyLayoutsMatchByteForByte) {
    const std::string request = status::EncodeCommonCmd("GetErrorLog", "a.log");
    EXPECT_EQ(request, Command("GetErrorLog" + std::string(21, '\0'), 5, "a.log"));
    status::tagCSVCommonCmd command;
    ASSERT_EQ(status::ReadCommonCmd(request.data(), static_cast<int>(request.size()), command), 41);
    EXPECT_EQ(status::EncodeCommonCmdReply(command, "xyz", 3),
              "\x01\x05\x00"s + "GetErrorLog" + std::string(21, '\0') + "\x03\x00\x00\x00xyz\x05"s + "a.log");
    EXPECT_EQ(status::EncodeCommonCmdReply(command, "", 0).size(), 40u + 5u);
}

TEST(StatusRecordsTest, BaseInfoReplyPacksKeysAndWidensValues) {
    EXPECT_EQ(status::MakeInfoKey(94, 4, 3, 2), 274729054u);
    // Each field is cut to its width and never spills into its neighbour.
    EXPECT_EQ(status::MakeInfoKey(0x200 | 5, 0x1000 | 1, 0x40 | 2, 0x20 | 3), 5u | (1u << 9) | (2u << 21) | (3u << 27));
    status::tagSVCBaseInfoReply reply;
    reply.AddSigned(0x11223344, -1);
    reply.AddUnsigned(0x55, 0xFFFFFFFFu);
    reply.AddText(0x1060085E, "127.0.0.1");
    EXPECT_EQ(reply.Encode(), "\x05\x01\x00\x02\x00"s                                        //
                                  "\x44\x33\x22\x11\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"s       // sign-widened
                                  "\x55\x00\x00\x00\xFF\xFF\xFF\xFF\x00\x00\x00\x00"s       // zero-widened
                                  "\x01\x00\x5E\x08\x60\x10\x09\x00"s + "127.0.0.1");
}

TEST(StatusRecordsTest, CpuPercentIsTruncatedAndNeverDividesByZero) {
    EXPECT_EQ(CpuPercent(15'000'000, 1500, 2), 50);  // 1.5 s busy of 3 s
    EXPECT_EQ(CpuPercent(14'999'999, 1500, 2), 49);
    EXPECT_EQ(CpuPercent(100'000, 1500, 2), 0);
    EXPECT_EQ(CpuPercent(15'000'000, 0, 2), 0);
    EXPECT_EQ(CpuPercent(15'000'000, 1500, 0), 0);
}

}  // namespace
