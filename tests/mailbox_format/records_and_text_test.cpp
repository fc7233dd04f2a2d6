// Result records byte by byte, and the hexadecimal and GUID text the tools and the runner write.
#include <gtest/gtest.h>

#include "mailbox_format/hex_text.h"
#include "mailbox_format/result_records.h"

namespace {

using mailbox_format::DecodeResultRecord;
using mailbox_format::EncodeResultRecord;
using mailbox_format::ResultRecordValue;

TEST(ResultRecords, IdBigEndianStatusLittleEndianBothWays) {
  struct Case {
    ResultRecordValue Record;
    std::vector<uint8_t> Bytes;
  } const Cases[] = {
      {{0x0102, 0x00000E00}, {0x01, 0x02, 0x00, 0x0E, 0x00, 0x00}},
      {{0xA1B2, 0xC3D4E5F6}, {0xA1, 0xB2, 0xF6, 0xE5, 0xD4, 0xC3}},
      {{0xFFFF, 0xFFFFFFFF}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& C : Cases) {
    EXPECT_EQ(EncodeResultRecord(C.Record), C.Bytes);
    EXPECT_EQ(DecodeResultRecord(C.Bytes.data()), C.Record);
  }
}

TEST(ResultRecords, OnlySixFfBytesAreUnwritten) {
  std::vector<uint8_t> Slot(6, 0xFF);
  EXPECT_TRUE(mailbox_format::RecordUnwritten(Slot.data()));
  for (size_t I = 0; I < Slot.size(); ++I) {
    std::vector<uint8_t> Written = Slot;
    Written[I] = 0xFE;
    EXPECT_FALSE(mailbox_format::RecordUnwritten(Written.data())) << I;
  }
}

TEST(HexText, NumbersBytesAndGuids) {
  EXPECT_EQ(mailbox_format::HexNumber(0x1F, 4), "0x001F");
  EXPECT_EQ(mailbox_format::HexNumber(0xC000B3A0, 8), "0xC000B3A0");
  EXPECT_EQ(mailbox_format::HexNumber(0x12345, 2), "0x12345");
  EXPECT_EQ(mailbox_format::HexBytesText({0x01, 0x0A, 0xFF}), "01 0A FF");
  EXPECT_EQ(mailbox_format::HexBytesText({0x01, 0x0A, 0xFF}, ""), "010AFF");
  EXPECT_EQ(mailbox_format::HexBytesText({}), "");
  const EFI_GUID Guid = {
      0x3C095E8C, 0x7653, 0x11E1, {0xA8, 0xEB, 0x08, 0x00, 0x27, 0xFA, 0x6E, 0x7F}};
  EXPECT_EQ(mailbox_format::GuidText(Guid), "3C095E8C-7653-11E1-A8EB-080027FA6E7F");
}

} // namespace
