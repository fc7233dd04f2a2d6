// The floor the performance report measures the driver against: its requests for one small
// mailbox, worked out by hand, and the matching of a trace against it.
#include <gtest/gtest.h>

#include "mailbox_format/mailbox_image.h"
#include "tests/bench/ipmi_floor.h"

namespace {

using bench::FruRequest;

constexpr uint8_t Fru = 4;

FruRequest R(uint16_t Offset, uint8_t Count) {
  return {false, Fru, Offset, Count};
}
FruRequest W(uint16_t Offset, uint8_t Count) {
  return {true, Fru, Offset, Count};
}

// Header at 512, list 0 at 544: "P1 abc" (id at 544, text at 546, 7 bytes with the NUL), then a
// text of 19 characters (id at 553, text at 555, 20 bytes), the end id at 575; result area at 592.
std::vector<uint8_t> SmallMailbox() {
  mailbox_format::MailboxImage Image;
  Image.Lists[0] =
      mailbox_format::MailboxList{{{0x0001, "P1 abc"}, {0x0002, "P2 0123456789abcdef"}}};
  return mailbox_format::EncodeMailboxImage(Image);
}

bool TakesPort1(const std::string& Text) {
  return Text.rfind("P1", 0) == 0;
}

// The pass's requests around its list: the search, the lock, the result area, list 0's offset, the
// list, the offsets of lists 1 to 7 and the unlock. Lock: the host flag at 542, the turn at 540,
// the BMC's flag at 541.
std::vector<FruRequest> Pass(std::vector<FruRequest> Lock, std::vector<FruRequest> List) {
  std::vector<FruRequest> Out = {R(512, 16), R(528, 12)};
  Out.insert(Out.end(), Lock.begin(), Lock.end());
  Out.insert(Out.end(), {R(536, 2), R(520, 2)});
  Out.insert(Out.end(), List.begin(), List.end());
  for (uint16_t Offset = 522; Offset <= 534; Offset += 2) {
    Out.push_back(R(Offset, 2));
  }
  Out.insert(Out.end(), {R(542, 1), W(542, 1)});
  return Out;
}

TEST(IpmiFloor, AdapterPassesWriteOnlyWhatChanges) {
  bench::BootFloor Floor({{Fru, SmallMailbox()}});
  Floor.AdapterPass(Fru, "search", TakesPort1, 0x0500);
  Floor.AdapterPass(Fru, "search", TakesPort1, 0x0500);
  // The first pass takes the lock from scratch and writes the record; the second finds the turn
  // and the record as it wants them.
  std::vector<FruRequest> Expected = Pass(
      {R(542, 1), W(542, 1), R(540, 1), W(540, 1), R(541, 1)},
      {R(544, 2), R(546, 16), R(592, 6), W(592, 6), R(553, 2), R(555, 16), R(571, 16), R(575, 2)});
  const std::vector<FruRequest> Second =
      Pass({R(542, 1), W(542, 1), R(540, 1), R(541, 1)},
           {R(544, 2), R(546, 16), R(592, 6), R(553, 2), R(555, 16), R(571, 16), R(575, 2)});
  Expected.insert(Expected.end(), Second.begin(), Second.end());
  EXPECT_EQ(Floor.Requests(), Expected);
  EXPECT_EQ(Floor.Purposes().at("result records"), 3u);
  EXPECT_EQ(Floor.Purposes().at("texts of commands passed over"), 4u);
  EXPECT_EQ(Floor.Purposes().at("search"), 4u);
}

TEST(IpmiFloor, PlatformPassKeepsTheLockAndRecordsOnlyPlatformCommands) {
  mailbox_format::MailboxImage Image;
  Image.Lists[0] = mailbox_format::MailboxList{{{0x0001, "set b1 X"}, {0x0002, "SET N1 X"}}};
  std::vector<uint8_t> Before = mailbox_format::EncodeMailboxImage(Image);
  // Records at 576: the platform command's holds 0x0E00 after the pass.
  std::vector<uint8_t> After = Before;
  const uint8_t Record[] = {0x00, 0x01, 0x00, 0x0E, 0x00, 0x00};
  std::copy(std::begin(Record), std::end(Record), After.begin() + 576);
  const std::vector<FruRequest> Expected = {
      R(512, 16), R(528, 12), R(542, 1),  W(542, 1), R(540, 1), W(540, 1), R(541, 1),  R(536, 2),
      R(520, 2),  R(544, 2),  R(546, 16), R(576, 6), W(576, 6), R(555, 2), R(557, 16), R(566, 2)};
  EXPECT_EQ(bench::PlatformPassFloor(Before, After, Fru), Expected);
}

sim::IpmiRequest Sent(const FruRequest& F) {
  sim::IpmiRequest Request{};
  Request.NetFn = 0x0A;
  Request.Cmd = F.Write ? 0x12 : 0x11;
  Request.Data = {F.Fru, uint8_t(F.Offset), uint8_t(F.Offset >> 8)};
  if (F.Write) {
    Request.Data.resize(3 + F.Count);
  } else {
    Request.Data.push_back(F.Count);
  }
  return Request;
}

TEST(IpmiFloor, TraceIsMatchedWhateverItsOrder) {
  const std::vector<FruRequest> Floor = {R(512, 16), W(592, 6), R(592, 6)};
  sim::IpmiRequest Oem{};
  Oem.NetFn = 0x30;
  Oem.Cmd = 0x30;
  const std::vector<sim::IpmiRequest> Trace = {Sent(W(592, 6)), Sent(R(512, 16)), Oem,
                                               Sent(R(512, 16)), Sent(R(600, 2))};
  const bench::FloorComparison C = bench::CompareWithFloor(Trace, Floor);
  EXPECT_EQ(C.Requests, 5u);
  EXPECT_EQ(C.Floor, 4u); // the floor's three and the OEM request
  EXPECT_EQ(C.Surplus,
            (std::vector<std::string>{"Read FRU Data of 16 bytes at 0x0200 of FRU device 4",
                                      "Read FRU Data of 2 bytes at 0x0258 of FRU device 4"}));
  EXPECT_EQ(C.Missing,
            (std::vector<std::string>{"Read FRU Data of 6 bytes at 0x0250 of FRU device 4"}));
}

} // namespace
