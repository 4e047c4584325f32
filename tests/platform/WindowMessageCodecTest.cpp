#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/WindowMessageCodec.h"
#include "platform/WindowNames.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(WindowMessageCodecTest, PostedMessageIsLittleEndianBehindTheMagic) {
    plat::WindowMessage message;
    message.msg = plat::WM_APP + 3;
    message.wParam = 0x0102030405060708ull;
    message.lParam = 0xA1;
    const Bytes expected = {0x56, 0x57, 0x4D, 0x31,                          // "VWM1"
                            0x03, 0x80, 0x00, 0x00,                          // 32771
                            0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // wParam
                            0xA1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // lParam
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}; // dwData
    EXPECT_EQ(plat::EncodeWindowMessage(message), expected);
}

TEST(WindowMessageCodecTest, CopyDataRoundTrips) {
    plat::WindowMessage message;
    message.msg = plat::WM_COPYDATA;
    message.dwData = 101;
    message.data = {0x00, 0xFF, 0x10, 0x00};
    const Bytes wire = plat::EncodeWindowMessage(message);
    ASSERT_EQ(wire.size(), plat::kWindowMessageHeaderBytes + 4);
    EXPECT_EQ(wire[24], 101);
    const auto decoded = plat::DecodeWindowMessage(wire.data(), wire.size());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->msg, plat::WM_COPYDATA);
    EXPECT_EQ(decoded->dwData, 101u);
    EXPECT_EQ(decoded->data, message.data);
}

TEST(WindowMessageCodecTest, CopyDataAboveTheBoundIsNotEncoded) {
    plat::WindowMessage message;
    message.msg = plat::WM_COPYDATA;
    message.data.assign(plat::kMaxCopyDataBytes, 0x5A);
    EXPECT_EQ(plat::EncodeWindowMessage(message).size(), plat::kMaxWindowDatagramBytes);
    message.data.push_back(0x5A);
    EXPECT_TRUE(plat::EncodeWindowMessage(message).empty());
}

TEST(WindowMessageCodecTest, BytesOnAnOrdinaryMessageAreNotEncoded) {
    plat::WindowMessage message;
    message.msg = plat::WM_USER + 6;
    message.data = {1};
    EXPECT_TRUE(plat::EncodeWindowMessage(message).empty());
}

TEST(WindowMessageCodecTest, ForeignOrDamagedDatagramsAreRejected) {
    plat::WindowMessage message;
    message.msg = plat::WM_APP + 2;
    Bytes wire = plat::EncodeWindowMessage(message);
    EXPECT_FALSE(plat::DecodeWindowMessage(wire.data(), wire.size() - 1).has_value());  // short
    Bytes badMagic = wire;
    badMagic[3] = 0x32;
    EXPECT_FALSE(plat::DecodeWindowMessage(badMagic.data(), badMagic.size()).has_value());
    Bytes trailing = wire;
    trailing.push_back(0);  // bytes behind a message that carries none
    EXPECT_FALSE(plat::DecodeWindowMessage(trailing.data(), trailing.size()).has_value());
    Bytes huge(plat::kMaxWindowDatagramBytes + 1, 0);
    std::copy(wire.begin(), wire.begin() + 4, huge.begin());
    huge[4] = 0x4A;
    EXPECT_FALSE(plat::DecodeWindowMessage(huge.data(), huge.size()).has_value());
    EXPECT_TRUE(plat::DecodeWindowMessage(wire.data(), wire.size()).has_value());
}

TEST(WindowNamesTest, ClassAndNameAreKeptApartByEscaping) {
    EXPECT_EQ(plat::WindowSocketName("TfrmVarnholt", "VarnholtServer"), "varnholt-window/TfrmVarnholt/VarnholtServer");
    EXPECT_EQ(plat::WindowSocketName("a/b", "c"), "varnholt-window/a%2Fb/c");
    EXPECT_NE(plat::WindowSocketName("a/b", "c"), plat::WindowSocketName("a", "b/c"));
    EXPECT_NE(plat::WindowSocketName("a%2Fb", "c"), plat::WindowSocketName("a/b", "c"));
    EXPECT_EQ(plat::ProcessWindowSocketName(1234), "varnholt-window-pid/1234");
}

TEST(WindowNamesTest, NamesTooLongForAnAddressAreHashed) {
    const std::string longName(200, 'x');
    const std::string name = plat::WindowSocketName("TfrmVarnholt", longName);
    EXPECT_EQ(name.rfind("varnholt-window#", 0), 0u);
    EXPECT_EQ(name.size(), 16u + 16u);
    EXPECT_NE(name, plat::WindowSocketName("TfrmVarnholt", longName + "y"));
}

}  // namespace
