#include "tools/varnsim/SimOptions.h"

#include <gtest/gtest.h>

#include <vector>

#include "tools/varnsim/DataServerRole.h"

namespace {

using namespace varnsim;

int Parse(std::vector<const char*> args, SimCommand& command, std::string* output = nullptr) {
    args.insert(args.begin(), "varnsim");
    std::string text;
    const int result = ParseSimCommand(static_cast<int>(args.size()), args.data(), command, text);
    if (output != nullptr) *output = text;
    return result;
}

TEST(SimOptionsTest, PeerDefaultsSendAThousandPacketsOneAtATimeToTheDataServer) {
    SimCommand command;
    ASSERT_EQ(Parse({"route", "--port", "7000"}, command), -1);
    EXPECT_EQ(command.role, SimRole::Route);
    EXPECT_EQ(command.peer.port, 7000);
    EXPECT_EQ(command.peer.count, 1000u);
    EXPECT_EQ(command.peer.window, 1u);
    EXPECT_EQ(command.peer.srcType, 5);
    EXPECT_TRUE(command.peer.expectReplies);
    EXPECT_FALSE(command.peer.passive);
}

TEST(SimOptionsTest, ADurationWithoutACountSendsWithoutLimit) {
    SimCommand command;
    ASSERT_EQ(Parse({"game", "--port", "7000", "--duration", "2"}, command), -1);
    EXPECT_EQ(command.peer.count, 0u);
    EXPECT_FALSE(command.peer.passive);
    EXPECT_EQ(command.peer.srcType, 3);
}

TEST(SimOptionsTest, CountZeroWithoutDurationOnlyReceives) {
    SimCommand command;
    ASSERT_EQ(Parse({"login", "--port", "7000", "--count", "0", "--size", "0"}, command), -1);
    EXPECT_TRUE(command.peer.passive);
    EXPECT_EQ(command.peer.srcType, 4);
}

TEST(SimOptionsTest, PacedSendingGetsAWideWindowUnlessOneIsGiven) {
    SimCommand command;
    ASSERT_EQ(Parse({"route", "--port", "7000", "--rate", "100"}, command), -1);
    EXPECT_EQ(command.peer.window, 8192u);
    ASSERT_EQ(Parse({"route", "--port", "7000", "--rate", "100", "--window", "3"}, command), -1);
    EXPECT_EQ(command.peer.window, 3u);
}

TEST(SimOptionsTest, OnlyDataServerPacketsThatAreNeitherBroadcastNorKeepAliveExpectReplies) {
    SimCommand command;
    ASSERT_EQ(Parse({"route", "--port", "1", "--dest-type", "3"}, command), -1);
    EXPECT_FALSE(command.peer.expectReplies);
    ASSERT_EQ(Parse({"route", "--port", "1", "--pack-type", "5"}, command), -1);
    EXPECT_FALSE(command.peer.expectReplies);
    ASSERT_EQ(Parse({"route", "--port", "1", "--pack-type", "7"}, command), -1);
    EXPECT_FALSE(command.peer.expectReplies);
    ASSERT_EQ(Parse({"route", "--port", "1", "--no-reply", "--size", "0"}, command), -1);
    EXPECT_FALSE(command.peer.expectReplies);
}

TEST(SimOptionsTest, ImpossibleCombinationsAreBadArguments) {
    SimCommand command;
    std::string output;
    EXPECT_EQ(Parse({"route", "--port", "1", "--size", "15"}, command, &output), kExitBadArguments);
    EXPECT_NE(output.find("--size must be at least 16"), std::string::npos) << output;
    EXPECT_EQ(Parse({"game", "--port", "1", "--slot", "65535", "--connections", "2"}, command), kExitBadArguments);
    EXPECT_EQ(Parse({"route", "--port", "1", "--window", "0"}, command), kExitBadArguments);
    EXPECT_EQ(Parse({"route"}, command), kExitBadArguments);
    EXPECT_EQ(Parse({"dataserver", "--port", "1", "--rule", "mirror"}, command), kExitBadArguments);
    EXPECT_EQ(Parse({}, command), kExitBadArguments);
}

TEST(SimOptionsTest, HelpIsNotAnError) {
    SimCommand command;
    std::string output;
    EXPECT_EQ(Parse({"route", "--help"}, command, &output), kExitOk);
    EXPECT_NE(output.find("--window"), std::string::npos) << output;
}

TEST(SimOptionsTest, DataServerRuleSwapAnswersLikeEcho) {
    SimCommand command;
    ASSERT_EQ(Parse({"dataserver", "--port", "0", "--rule", "swap"}, command), -1);
    EXPECT_EQ(command.role, SimRole::DataServer);
    EXPECT_EQ(command.dataServer.rule, AnswerRule::Echo);
    ASSERT_EQ(Parse({"dataserver", "--port", "0", "--rule", "sink"}, command), -1);
    EXPECT_EQ(command.dataServer.rule, AnswerRule::Sink);
}

TEST(EchoHeadTest, RouteServersAreAnsweredAtTheSlotTheGatewayStamped) {
    MMORPG::tagPackHead head{0x00090002, 6, 1, 1, 5};
    const MMORPG::tagPackHead answer = DataServerRole::EchoHead(head);
    EXPECT_EQ(answer, (MMORPG::tagPackHead{0x00090002, 6, 1, 5, 1}));
}

TEST(EchoHeadTest, GameAndLoginServersAreAnsweredAtTheSlotInContext) {
    EXPECT_EQ(DataServerRole::EchoHead(MMORPG::tagPackHead{0x00090002, 0, 3, 1, 3}),
              (MMORPG::tagPackHead{0x00090002, 9, 3, 3, 1}));
    EXPECT_EQ(DataServerRole::EchoHead(MMORPG::tagPackHead{0x00040000, 0, 1, 1, 4}),
              (MMORPG::tagPackHead{0x00040000, 4, 1, 4, 1}));
}

}  // namespace
