// The command frames and their dumps, byte for byte.
#include <gtest/gtest.h>

#include "engine/frame.h"

namespace trident {
namespace {

TEST(Frame, SyncFrameBytes) {
  const Frame sync = makeSyncFrame();
  Frame expected{};
  expected[0] = 0xA4;
  expected[4] = 0x01;
  expected[8] = 0x01;
  EXPECT_EQ(sync, expected);
}

TEST(Frame, SendDumpIs128LowerCaseDigits) {
  Frame frame = makeSyncFrame();
  frame[63] = 0xAB;
  EXPECT_EQ(sendDump(frame),
            "\nsend to hidc:\na4000000010000000100" + std::string(106, '0') + "ab\n");
  EXPECT_EQ(receiveDump(Frame{}), "\nget from hid:\n" + std::string(128, '0') + "\n");
}

TEST(Frame, PacketNumbersTravelInSixteenBits) {
  const Frame f = makeFrame(Command::Data, 0x12345);
  EXPECT_EQ(f[4], 0x45);
  EXPECT_EQ(f[5], 0x23);
  EXPECT_EQ(f[6], 0);
  EXPECT_EQ(f[7], 0);
  EXPECT_EQ(replyPacketNumber(f), 0x2345);
  const Frame last = makeFrame(Command::Final, 43);
  EXPECT_EQ(last[0], 0xAB);
  EXPECT_EQ(last[4], 43);
}

}  // namespace
}  // namespace trident
