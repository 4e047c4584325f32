#include "ShareDefine/PackageDispatcher.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "FramingTestSupport.h"
#include "infra/HexDump.h"
#include "tests/support/CapturingLog.h"

namespace {

using framingtest::Frame32;
using framingtest::FrameWithCRC;
using framingtest::Head32;
using framingtest::LE16;
using framingtest::LE32;
using framingtest::RecordingFramer;

constexpr uint32_t kBound = 104857600;  // 100 MiB, head included

class FramingTest : public ::testing::Test {
protected:
    testsupport::ScopedCapturingLog log;
    RecordingFramer probe;
};

TEST_F(FramingTest, DefaultsAre32BitLengthWithoutCRC) {
    EXPECT_EQ(probe.framer.GetHeadLen(), 6);
    EXPECT_EQ(probe.framer.GetCRCLen(), 0);
    EXPECT_FALSE(probe.framer.GetUseCRC());
    probe.framer.SetLenMode(0);
    EXPECT_EQ(probe.framer.GetHeadLen(), 4);
    probe.framer.SetUseCRC(true);
    EXPECT_EQ(probe.framer.GetCRCLen(), 4);
    EXPECT_TRUE(probe.framer.GetUseCRC());
}

TEST_F(FramingTest, PackDataWritesMagicLittleEndianLengthAndBody) {
    char buffer[32];
    const int written = probe.framer.PackData("abc", 3, buffer, sizeof(buffer));
    ASSERT_EQ(written, 9);
    EXPECT_EQ(std::string(buffer, 9), std::string("\xFF\xCC\x03\x00\x00\x00" "abc", 9));
}

TEST_F(FramingTest, PackDataWithExactlyEnoughRoomSucceeds) {
    char buffer[9];
    EXPECT_EQ(probe.framer.PackData("abc", 3, buffer, 9), 9);
    EXPECT_TRUE(log->Texts(llFatal).empty());
}

TEST_F(FramingTest, PackDataOneByteShortIsRefusedWithFatalLine) {
    char buffer[9];
    EXPECT_EQ(probe.framer.PackData("abc", 3, buffer, 8), 0);
    EXPECT_TRUE(log->Has(llFatal, "TnPackageDispatcher::PackData packHeadLen(6) + totalPackLen(3) > maxBuff(8)"));
}

TEST_F(FramingTest, TwoFramesInOneChunkGiveTwoCallsInOrder) {
    probe.Feed(Frame32("first") + Frame32("second"));
    ASSERT_EQ(probe.bodies.size(), 2u);
    EXPECT_EQ(probe.bodies[0], "first");
    EXPECT_EQ(probe.bodies[1], "second");
    EXPECT_EQ(probe.framer.PendingBytes(), 0u);
}

TEST_F(FramingTest, BodyIsHandedOverInPlaceWithoutCopy) {
    const std::string chunk = Frame32("payload");
    probe.Feed(chunk);
    ASSERT_EQ(probe.bodyPointers.size(), 1u);
    EXPECT_EQ(probe.bodyPointers[0], chunk.data() + 6);
}

TEST_F(FramingTest, FrameSplitOverThreeChunksIsDeliveredAfterTheThird) {
    const std::string frame = Frame32("split body of some length");
    probe.Feed(frame.substr(0, 3));
    EXPECT_TRUE(probe.bodies.empty());
    probe.Feed(frame.substr(3, 10));
    EXPECT_TRUE(probe.bodies.empty());
    probe.Feed(frame.substr(13));
    ASSERT_EQ(probe.bodies.size(), 1u);
    EXPECT_EQ(probe.bodies[0], "split body of some length");
    EXPECT_EQ(probe.framer.PendingBytes(), 0u);
}

TEST_F(FramingTest, TailOfAChunkWaitsForTheRestOfItsFrame) {
    const std::string second = Frame32("second");
    probe.Feed(Frame32("first") + second.substr(0, 8));
    ASSERT_EQ(probe.bodies.size(), 1u);
    EXPECT_EQ(probe.framer.PendingBytes(), 8u);
    probe.Feed(second.substr(8) + Frame32("third"));
    ASSERT_EQ(probe.bodies.size(), 3u);
    EXPECT_EQ(probe.bodies[1], "second");
    EXPECT_EQ(probe.bodies[2], "third");
}

// A chunk behind a split frame: only the split frame is completed from it,
// and the frames after it are handed over from the caller's chunk itself.
// A pending head that turns out bad takes the rest of its chunk with it.
TEST_F(FramingTest, ChunkBehindASplitFrameCompletesItAndIsParsedInPlace) {
    const std::string first = Frame32("first body");
    const std::string last = Frame32("last");
    probe.Feed(first.substr(0, 3));  // inside the head
    const std::string chunk = first.substr(3) + Frame32("second") + last.substr(0, 5);
    probe.Feed(chunk);
    ASSERT_EQ(probe.bodies.size(), 2u);
    EXPECT_EQ(probe.bodies[0], "first body");
    EXPECT_EQ(probe.bodies[1], "second");
    EXPECT_EQ(probe.bodyPointers[1], chunk.data() + (first.size() - 3) + 6);
    EXPECT_EQ(probe.framer.PendingBytes(), 5u);
    probe.Feed(last.substr(5));
    ASSERT_EQ(probe.bodies.size(), 3u);
    EXPECT_EQ(probe.bodies[2], "last");

    probe.Feed(std::string("\xFF\xCD", 2));
    probe.Feed(LE32(2) + "ab" + Frame32("dropped"));
    EXPECT_EQ(probe.errors, 1);
    EXPECT_EQ(probe.bodies.size(), 3u);
    EXPECT_EQ(probe.framer.PendingBytes(), 0u);
}

TEST_F(FramingTest, OneByteChunkIsKeptAndTheNextChunkAppended) {
    const std::string frame = Frame32("xy");
    probe.Feed(frame.substr(0, 1));
    EXPECT_EQ(probe.framer.PendingBytes(), 1u);
    ASSERT_EQ(probe.logs.size(), 1u);
    EXPECT_EQ(probe.logs[0], "需要等待的封包:0xffffffff,1");  // first byte FF, sign-extended
    probe.Feed(frame.substr(1));
    ASSERT_EQ(probe.bodies.size(), 1u);
    EXPECT_EQ(probe.bodies[0], "xy");
    EXPECT_EQ(probe.errors, 0);
}

TEST_F(FramingTest, LengthZeroFrameIsSixBytesWithEmptyBody) {
    const std::string frame = Head32(0);
    ASSERT_EQ(frame.size(), 6u);
    probe.Feed(frame);
    ASSERT_EQ(probe.bodies.size(), 1u);
    EXPECT_TRUE(probe.bodies[0].empty());
}

TEST_F(FramingTest, FrameOfExactlyTheBoundIsAcceptedAndWaitedFor) {
    probe.Feed(Head32(kBound - 6));
    const std::string chunk(4096, 'x');
    for (int i = 0; i < 4; ++i) probe.Feed(chunk);
    EXPECT_TRUE(probe.bodies.empty());
    EXPECT_EQ(probe.errors, 0);
    EXPECT_EQ(probe.framer.PendingBytes(), 6u + 4 * 4096);
    ASSERT_FALSE(probe.logs.empty());
    EXPECT_EQ(probe.logs.back(), "需要等待的封包:0xffffffff,16390");
}

TEST_F(FramingTest, OneByteAboveTheBoundIsRefused) {
    probe.Feed(Head32(kBound - 5));
    EXPECT_EQ(probe.errors, 1);
    EXPECT_EQ(probe.framer.PendingBytes(), 0u);
    ASSERT_EQ(probe.logs.size(), 1u);
    EXPECT_EQ(probe.logs[0], "封包过长: 104857601");
}

TEST_F(FramingTest, LargestLengthValueDoesNotWrapAround) {
    probe.Feed(Head32(0xFFFFFFFFu) + "abc");
    EXPECT_EQ(probe.errors, 1);
    EXPECT_TRUE(probe.bodies.empty());
    ASSERT_EQ(probe.logs.size(), 1u);
    EXPECT_EQ(probe.logs[0], "封包过长: 4294967301");
}

TEST_F(FramingTest, WholeHundredMiBFrameInSmallChunksIsDeliveredOnce) {
    // Linear cost: the pending bytes are appended to, not copied per chunk,
    // so this finishes in well under a second instead of hours.
    const uint32_t bodyLen = kBound - 6;
    probe.framer.SetOnLog({});
    probe.Feed(Head32(bodyLen));
    std::string chunk(4096, '\0');
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7);
    uint32_t fed = 0;
    while (fed < bodyLen) {
        const uint32_t n = std::min<uint32_t>(bodyLen - fed, static_cast<uint32_t>(chunk.size()));
        probe.framer.Feed(chunk.data(), static_cast<int>(n));
        fed += n;
    }
    ASSERT_EQ(probe.bodies.size(), 1u);
    EXPECT_EQ(probe.bodies[0].size(), bodyLen);
    EXPECT_EQ(probe.bodies[0].substr(4096 * 3, 4096), chunk);
    EXPECT_EQ(probe.framer.PendingBytes(), 0u);
    EXPECT_EQ(probe.errors, 0);
}

TEST_F(FramingTest, BadMagicIsRefusedAndTheNextChunkParsesFromItsFirstByte) {
    probe.Feed(std::string("\xCC\xFF", 2) + LE32(3) + "abc" + Frame32("lost"));
    EXPECT_EQ(probe.errors, 1);
    EXPECT_TRUE(probe.bodies.empty());  // the rest of the chunk went with the bad frame
    ASSERT_EQ(probe.logs.size(), 1u);
    EXPECT_EQ(probe.logs[0], "封包错误:0xffcc");
    EXPECT_EQ(probe.framer.PendingBytes(), 0u);

    probe.Feed(Frame32("good"));
    ASSERT_EQ(probe.bodies.size(), 1u);
    EXPECT_EQ(probe.bodies[0], "good");
}

TEST_F(FramingTest, BadMagicAfterPendingBytesDropsThemToo) {
    probe.Feed(std::string("\xFF", 1));
    probe.Feed(std::string("\xCD", 1) + LE32(0));
    EXPECT_EQ(probe.errors, 1);
    EXPECT_EQ(probe.framer.PendingBytes(), 0u);
    probe.Feed(Frame32("next"));
    ASSERT_EQ(probe.bodies.size(), 1u);
}

TEST_F(FramingTest, UnsetClosuresAreSkipped) {
    TnPackageDispatcher bare;
    bare.Feed("\xCC\xFF\x00\x00\x00\x00", 6);  // no error or log closure: dropped quietly
    const std::string frame = Frame32("x");
    bare.Feed(frame.data(), static_cast<int>(frame.size()));
    EXPECT_EQ(bare.PendingBytes(), 0u);
}

TEST_F(FramingTest, CRCOnPackDataAppendsTheCRCOfEverythingBefore) {
    probe.framer.SetUseCRC(true);
    char buffer[32];
    const int written = probe.framer.PackData("hello", 5, buffer, sizeof(buffer));
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(written)), FrameWithCRC("hello"));
    // CRC-32 (ISO-HDLC) of FF CC 07 00 00 00 "abc" is 0x8D8DECC3, stored little-endian.
    ASSERT_EQ(probe.framer.PackData("abc", 3, buffer, sizeof(buffer)), 13);
    EXPECT_EQ(std::string(buffer, 13), std::string("\xFF\xCC\x07\x00\x00\x00" "abc" "\xC3\xEC\x8D\x8D", 13));
}

TEST_F(FramingTest, CRCOnGoodFrameDeliversTheBodyWithoutCRC) {
    probe.framer.SetUseCRC(true);
    probe.Feed(FrameWithCRC("hello") + FrameWithCRC(""));
    ASSERT_EQ(probe.bodies.size(), 2u);
    EXPECT_EQ(probe.bodies[0], "hello");
    EXPECT_EQ(probe.bodies[1], "");
    EXPECT_TRUE(log->Texts(llError).empty());
}

TEST_F(FramingTest, CRCMismatchRaisesPackCRCErrorAndLogsTheFrame) {
    probe.framer.SetUseCRC(true);
    std::string bad = FrameWithCRC("ab");
    bad[6] = 'A';  // body changed after the CRC was taken
    const auto good = static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(bad.data()), 8));
    const std::string stored = FrameWithCRC("ab").substr(8);
    const uint32_t storedValue = static_cast<uint32_t>(static_cast<unsigned char>(stored[0])) |
                                 (static_cast<uint32_t>(static_cast<unsigned char>(stored[1])) << 8) |
                                 (static_cast<uint32_t>(static_cast<unsigned char>(stored[2])) << 16) |
                                 (static_cast<uint32_t>(static_cast<unsigned char>(stored[3])) << 24);
    try {
        probe.Feed(bad + FrameWithCRC("after"));
        FAIL() << "no exception";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Pack CRC Error");
    }
    EXPECT_TRUE(probe.bodies.empty());  // the frame after it in the chunk is lost
    EXPECT_EQ(probe.framer.PendingBytes(), 0u);
    const std::string expected = "Pack CRC Error! curCRC = " + std::to_string(static_cast<int>(good)) +
                                 ", packCRC = " + std::to_string(static_cast<int>(storedValue)) +
                                 ", pack = " + HexDump(bad);
    EXPECT_TRUE(log->Has(llError, expected)) << (log->Texts(llError).empty() ? "" : log->Texts(llError)[0]);

    probe.Feed(FrameWithCRC("later"));
    ASSERT_EQ(probe.bodies.size(), 1u);
    EXPECT_EQ(probe.bodies[0], "later");
}

TEST_F(FramingTest, CRCMismatchOnAFrameCompletedFromPendingBytesLeavesNothingPending) {
    probe.framer.SetUseCRC(true);
    std::string bad = FrameWithCRC("abcdef");
    bad.back() ^= 0x01;
    probe.Feed(bad.substr(0, 5));
    EXPECT_THROW(probe.Feed(bad.substr(5)), PackCRCError);
    EXPECT_EQ(probe.framer.PendingBytes(), 0u);
    probe.Feed(FrameWithCRC("ok"));
    ASSERT_EQ(probe.bodies.size(), 1u);
}

TEST_F(FramingTest, CRCOnLengthValueBelowFourIsRefusedLikeBadMagic) {
    probe.framer.SetUseCRC(true);
    probe.Feed(Head32(3) + "abc" + FrameWithCRC("lost"));
    EXPECT_EQ(probe.errors, 1);
    EXPECT_TRUE(probe.bodies.empty());
    ASSERT_EQ(probe.logs.size(), 1u);
    EXPECT_EQ(probe.logs[0], "封包长度错误: 3");
    EXPECT_EQ(probe.framer.PendingBytes(), 0u);
}

TEST_F(FramingTest, CRCOffAcceptsAnyCRCBytesAsBody) {
    std::string frame = FrameWithCRC("ab");
    frame.back() ^= 0x55;
    probe.Feed(frame);
    ASSERT_EQ(probe.bodies.size(), 1u);
    EXPECT_EQ(probe.bodies[0].size(), 6u);  // body plus the four would-be CRC bytes
}

bool Refuse(void* context, const char*, int len) {
    *static_cast<int*>(context) += len;
    return false;
}

TEST_F(FramingTest, RecvCheckFalseDropsTheChunkAndThePendingBytes) {
    const std::string frame = Frame32("checked");
    probe.Feed(frame.substr(0, 4));
    ASSERT_EQ(probe.framer.PendingBytes(), 4u);
    int checkedBytes = 0;
    probe.framer.SetOnRecvCheck({&Refuse, &checkedBytes});
    probe.Feed(frame.substr(4));
    EXPECT_EQ(checkedBytes, static_cast<int>(frame.size()) - 4);  // the new bytes alone are checked
    EXPECT_TRUE(probe.bodies.empty());
    EXPECT_EQ(probe.framer.PendingBytes(), 0u);

    probe.framer.SetOnRecvCheck({});
    probe.Feed(frame);
    ASSERT_EQ(probe.bodies.size(), 1u);
}

TEST_F(FramingTest, SixteenBitModeUsesAFourByteHead) {
    probe.framer.SetLenMode(0);
    char buffer[16];
    const int written = probe.framer.PackData("abc", 3, buffer, sizeof(buffer));
    ASSERT_EQ(written, 7);
    EXPECT_EQ(std::string(buffer, 7), std::string("\xFF\xCC\x03\x00" "abc", 7));

    const std::string frame = std::string("\xFF\xCC", 2) + LE16(5) + "hello";
    probe.Feed(frame.substr(0, 3));
    EXPECT_TRUE(probe.bodies.empty());
    probe.Feed(frame.substr(3) + std::string(buffer, 7));
    ASSERT_EQ(probe.bodies.size(), 2u);
    EXPECT_EQ(probe.bodies[0], "hello");
    EXPECT_EQ(probe.bodies[1], "abc");
}

TEST_F(FramingTest, SixteenBitModeWithCRC) {
    probe.framer.SetLenMode(0);
    probe.framer.SetUseCRC(true);
    char buffer[16];
    const int written = probe.framer.PackData("ab", 2, buffer, sizeof(buffer));
    ASSERT_EQ(written, 10);
    EXPECT_EQ(std::string(buffer, 4), std::string("\xFF\xCC\x06\x00", 4));
    probe.framer.Feed(buffer, written);
    ASSERT_EQ(probe.bodies.size(), 1u);
    EXPECT_EQ(probe.bodies[0], "ab");
}

TEST_F(FramingTest, SixteenBitModeRefusesABodyItsLengthCannotHold) {
    probe.framer.SetLenMode(0);
    const std::string body(0x10000, 'b');
    std::string buffer(body.size() + 16, '\0');
    EXPECT_EQ(probe.framer.PackData(body.data(), static_cast<int>(body.size()), buffer.data(),
                                    static_cast<int>(buffer.size())),
              0);
    EXPECT_TRUE(log->Has(llFatal, "TnPackageDispatcher::PackData totalPackLen(65536) > 0xFFFF"));
    const std::string largest(0xFFFF, 'b');
    EXPECT_EQ(probe.framer.PackData(largest.data(), static_cast<int>(largest.size()), buffer.data(),
                                    static_cast<int>(buffer.size())),
              0xFFFF + 4);
}

TEST_F(FramingTest, PackDataMayFindItsBodyAlreadyInPlace) {
    std::string buffer = std::string(6, '\0') + "inplace";
    const int written = probe.framer.PackData(buffer.data() + 6, 7, buffer.data(), static_cast<int>(buffer.size()));
    ASSERT_EQ(written, 13);
    EXPECT_EQ(buffer, Frame32("inplace"));
}

TEST_F(FramingTest, ClearBufferDropsThePendingFrame) {
    const std::string frame = Frame32("abcdef");
    probe.Feed(frame.substr(0, 7));
    probe.framer.ClearBuffer();
    EXPECT_EQ(probe.framer.PendingBytes(), 0u);
    probe.Feed(frame);
    ASSERT_EQ(probe.bodies.size(), 1u);
    EXPECT_EQ(probe.bodies[0], "abcdef");
}

// Position of a virtual operation in the table, from the Itanium C++ ABI
// form of a pointer to a virtual member function (1 + byte offset).
template <typename Member>
long SlotOf(Member member) {
    struct Representation {
        long ptr;
        long adj;
    } representation;
    static_assert(sizeof(member) == sizeof(representation));
    std::memcpy(&representation, &member, sizeof(representation));
    return (representation.ptr - 1) / static_cast<long>(sizeof(void*));
}

TEST_F(FramingTest, ModulesFindEachOperationInItsSlot) {
    EXPECT_EQ(SlotOf(&IPackageDispatcher::SetOnRecvCheck), 0);
    EXPECT_EQ(SlotOf(&IPackageDispatcher::SetOnPack), 1);
    EXPECT_EQ(SlotOf(&IPackageDispatcher::SetOnLog), 2);
    EXPECT_EQ(SlotOf(&IPackageDispatcher::SetOnError), 3);
    EXPECT_EQ(SlotOf(&IPackageDispatcher::Feed), 4);
    EXPECT_EQ(SlotOf(&IPackageDispatcher::PackData), 5);
    EXPECT_EQ(SlotOf(&IPackageDispatcher::ClearBuffer), 6);
    EXPECT_EQ(SlotOf(&IPackageDispatcher::GetHeadLen), 7);
    EXPECT_EQ(SlotOf(&IPackageDispatcher::SetLenMode), 8);
    EXPECT_EQ(SlotOf(&IPackageDispatcher::GetCRCLen), 9);
    EXPECT_EQ(SlotOf(&IPackageDispatcher::SetUseCRC), 10);
    EXPECT_EQ(SlotOf(&IPackageDispatcher::GetUseCRC), 11);
}

TEST_F(FramingTest, ExportsAreVisibleByNameFromTheExecutable) {
    auto newDispatcher = reinterpret_cast<NewPackageDispatcherFunc>(dlsym(RTLD_DEFAULT, "NewPackageDispatcher"));
    auto freeDispatcher = reinterpret_cast<FreePackageDispatcherFunc>(dlsym(RTLD_DEFAULT, "FreePackageDispatcher"));
    ASSERT_NE(newDispatcher, nullptr);
    ASSERT_NE(freeDispatcher, nullptr);

    IPackageDispatcher* dispatcher = newDispatcher();
    ASSERT_NE(dispatcher, nullptr);
    EXPECT_EQ(dispatcher->GetHeadLen(), 6);
    EXPECT_FALSE(dispatcher->GetUseCRC());
    char buffer[16];
    EXPECT_EQ(dispatcher->PackData("z", 1, buffer, sizeof(buffer)), 7);
    freeDispatcher(dispatcher);
    freeDispatcher(nullptr);
}

}  // namespace
