// The mailbox header search and checksum, the host's side of the lock, and result records.
#include <cstring>

#include "mailbox/mailbox.h"
#include "tests/support/driver_fixture.h"

namespace {

using testing_support::Accesses;
using testing_support::DriverTest;
using testing_support::FruAccess;

constexpr UINT64 HalfSecond = 500000;

std::vector<uint8_t> ValidHeader() {
  std::array<UINT16, 8> Lists{};
  Lists[0] = 0x0240;
  Lists[3] = 0x0A00;
  return mailbox_format::EncodeMailboxHeader(Lists, 0x0B00);
}

TEST(MailboxChecksum, WordsMustAddUpToZero) {
  std::vector<uint8_t> Header = ValidHeader();
  MailboxHeader H;
  std::memcpy(&H, Header.data(), sizeof(H));
  EXPECT_TRUE(MailboxChecksumValid(H));
  // Every byte counts, the reserved ones included; a change in any one breaks the sum.
  for (size_t I = 0; I < sizeof(H); ++I) {
    MailboxHeader Damaged = H;
    reinterpret_cast<UINT8*>(&Damaged)[I] ^= 0x01;
    EXPECT_FALSE(MailboxChecksumValid(Damaged)) << "byte " << I;
  }
}

TEST(MailboxChecksum, SumWrapsModulo65536) {
  std::vector<uint8_t> Header(28, 0);
  // 0x8000 + 0x8000 = 0x10000, which is 0 in 16 bits.
  Header[0] = 0x80;
  Header[2] = 0x80;
  MailboxHeader H;
  std::memcpy(&H, Header.data(), sizeof(H));
  EXPECT_TRUE(MailboxChecksumValid(H));
}

class FindMailboxTest : public DriverTest {};

TEST_F(FindMailboxTest, FindsTheHeaderAtEachCandidate) {
  for (UINT16 K = 0; K < 8; ++K) {
    Blade.Bmc.Fru(1).assign(testing_support::DefaultFruSize, 0);
    Blade.Bmc.ClearTrace();
    const UINT16 Expected = static_cast<UINT16>(512 + 256 * K);
    Blade.Bmc.WriteFru(1, Expected, ValidHeader());
    MailboxHeader Header{};
    UINT16 Offset = 0;
    ASSERT_EQ(FindMailbox(Transport(), 1, &Header, &Offset), EFI_SUCCESS) << K;
    EXPECT_EQ(Offset, Expected);
    const UINT8* Bytes = reinterpret_cast<const UINT8*>(&Header);
    EXPECT_EQ(std::vector<UINT8>(Bytes + 14, Bytes + 16), (std::vector<UINT8>{0x0A, 0x00}));
    EXPECT_EQ(std::vector<UINT8>(Bytes + 24, Bytes + 26), (std::vector<UINT8>{0x0B, 0x00}));
    // Each candidate costs two requests: 16 and 12 bytes.
    EXPECT_EQ(FruReads().size(), 2u * (K + 1));
  }
}

TEST_F(FindMailboxTest, NoSignatureAnywhere) {
  MailboxHeader Header{};
  UINT16 Offset = 0xBEEF;
  EXPECT_EQ(FindMailbox(Transport(), 1, &Header, &Offset), EFI_ABORTED);
  EXPECT_EQ(Offset, 0xBEEF);
  EXPECT_EQ(FruReads().size(), 16u);
  EXPECT_EQ(Accesses(FruReads()).back(), (FruAccess{1, 512 + 7 * 256 + 16, 12}));
}

TEST_F(FindMailboxTest, BadChecksumEndsTheSearch) {
  std::array<UINT16, 8> Lists{};
  Blade.Bmc.WriteFru(1, 512,
                     mailbox_format::EncodeMailboxHeader(Lists, 0x900, /*BadChecksum=*/true));
  Blade.Bmc.WriteFru(1, 768, ValidHeader());
  MailboxHeader Header{};
  UINT16 Offset = 0;
  EXPECT_EQ(FindMailbox(Transport(), 1, &Header, &Offset), EFI_ABORTED);
  EXPECT_EQ(FruReads().size(), 2u) << "the good header at 768 is never read";
}

TEST_F(FindMailboxTest, ReadFailureEndsTheSearch) {
  Blade.Bmc.WriteFru(1, 1280, ValidHeader());
  Blade.Bmc.InjectCompletion(0xC3, 1, sim::RequestMatch{{}, {}, {}, UINT16{1024}});
  MailboxHeader Header{};
  UINT16 Offset = 0;
  EXPECT_EQ(FindMailbox(Transport(), 1, &Header, &Offset), EFI_DEVICE_ERROR);
  EXPECT_EQ(Accesses(FruReads()).back(), (FruAccess{1, 1024, 16}));
}

TEST_F(FindMailboxTest, MissingFruDeviceIsNotPresent) {
  MailboxHeader Header{};
  UINT16 Offset = 0;
  EnableFailureReports();
  EXPECT_EQ(FindMailbox(Transport(), 9, &Header, &Offset), EFI_DEVICE_ERROR);
  EXPECT_EQ(FailureReports(), 0u);
}

class LockTest : public DriverTest {
protected:
  static constexpr UINT16 H = 768;
  UINT8 Byte(UINT16 Delta) { return Blade.Bmc.ReadFru(1, H + Delta, 1)[0]; }
  std::vector<uint64_t> Waits() { return Blade.Firmware.Stalls(); }
};

TEST_F(LockTest, FreeMailboxIsTakenAtOnce) {
  ASSERT_EQ(LockMailbox(Transport(), 1, H), EFI_SUCCESS);
  EXPECT_EQ(Byte(testing_support::HostLockFlag), 1);
  EXPECT_EQ(Byte(testing_support::LockTurn), 1);
  EXPECT_EQ(Accesses(FruWrites()),
            (std::vector<FruAccess>{{1, H + testing_support::HostLockFlag, 1},
                                    {1, H + testing_support::LockTurn, 1}}));
  // Read-compare of both writes, then one look at the BMC's flag; LockTurn is never polled.
  EXPECT_EQ(Accesses(FruReads()),
            (std::vector<FruAccess>{{1, H + testing_support::HostLockFlag, 1},
                                    {1, H + testing_support::LockTurn, 1},
                                    {1, H + testing_support::BmcLockFlag, 1}}));
  EXPECT_TRUE(Waits().empty());
}

TEST_F(LockTest, BmcThatNeverLetsGoTimesOutAfterTwentySeconds) {
  Blade.Bmc.HoldMailboxLock(1, H, UINT64_MAX);
  EXPECT_EQ(LockMailbox(Transport(), 1, H), EFI_ABORTED);
  EXPECT_EQ(Waits(), std::vector<uint64_t>(40, HalfSecond));
  EXPECT_EQ(Blade.Firmware.Clock.Now(), 40 * HalfSecond);
  EXPECT_EQ(Byte(testing_support::HostLockFlag), 0) << "the host stops asking";
  EXPECT_EQ(Byte(testing_support::BmcLockFlag), 1);
}

struct BmcReleaseCase {
  const char* Name;
  uint64_t ReleaseAt;  // BmcLockFlag -> 0
  uint64_t TurnBackAt; // LockTurn -> 0 while the BMC still wants the mailbox
  size_t ExpectedWaits;
};

class LockContentionTest : public LockTest, public ::testing::WithParamInterface<BmcReleaseCase> {};

TEST_P(LockContentionTest, HostEntersOnceTheBmcLetsIt) {
  const BmcReleaseCase& C = GetParam();
  Blade.Bmc.HoldMailboxLock(1, H, C.ReleaseAt);
  if (C.TurnBackAt != UINT64_MAX) {
    Blade.Bmc.ScheduleFruWrite(1, H + testing_support::LockTurn, 0, C.TurnBackAt);
  }
  ASSERT_EQ(LockMailbox(Transport(), 1, H), EFI_SUCCESS);
  EXPECT_EQ(Waits().size(), C.ExpectedWaits);
  EXPECT_EQ(Byte(testing_support::HostLockFlag), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Bmc, LockContentionTest,
    ::testing::Values(BmcReleaseCase{"ReleasesAfterTwoSeconds", 2200000, UINT64_MAX, 5},
                      BmcReleaseCase{"HandsTheTurnBack", UINT64_MAX, 1000000, 2},
                      BmcReleaseCase{"ReleasesJustBeforeTheLastPoll", 39 * HalfSecond, UINT64_MAX,
                                     39}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(LockTest, LockHeldAlreadyOnlyYieldsTheTurn) {
  Blade.Bmc.WriteFru(1, H + testing_support::HostLockFlag, {1});
  ASSERT_EQ(LockMailbox(Transport(), 1, H), EFI_SUCCESS);
  EXPECT_EQ(Accesses(FruWrites()), (std::vector<FruAccess>{{1, H + testing_support::LockTurn, 1}}));
}

TEST_F(LockTest, ReadFailureWhilePollingKeepsTheHostFlag) {
  Blade.Bmc.HoldMailboxLock(1, H, UINT64_MAX);
  Blade.Bmc.InjectCompletion(
      0xC3, 1, sim::RequestMatch{{}, {}, {}, UINT16{H + testing_support::BmcLockFlag}});
  EXPECT_EQ(LockMailbox(Transport(), 1, H), EFI_DEVICE_ERROR);
  EXPECT_EQ(Byte(testing_support::HostLockFlag), 1);
}

TEST_F(LockTest, UnlockClearsOnlyTheHostFlag) {
  Blade.Bmc.WriteFru(1, H + testing_support::LockTurn, {1, 1, 1});
  ASSERT_EQ(UnlockMailbox(Transport(), 1, H), EFI_SUCCESS);
  EXPECT_EQ(Blade.Bmc.ReadFru(1, H + testing_support::LockTurn, 3),
            (std::vector<uint8_t>{1, 1, 0}));
  Blade.Bmc.ClearTrace();
  ASSERT_EQ(UnlockMailbox(Transport(), 1, H), EFI_SUCCESS);
  EXPECT_TRUE(FruWrites().empty()) << "releasing a released lock writes nothing";
}

TEST_F(DriverTest, ResultRecordIsBigEndianIdAndLittleEndianStatus) {
  ASSERT_EQ(WriteResultRecord(Transport(), Stall(), 1, 0x0C06, 0x0102, 0x00000E00), EFI_SUCCESS);
  EXPECT_EQ(Blade.Bmc.ReadFru(1, 0x0C06, 6),
            (std::vector<uint8_t>{0x01, 0x02, 0x00, 0x0E, 0x00, 0x00}));
  ASSERT_EQ(WriteResultRecord(Transport(), Stall(), 1, 0x0C06, 0xA1B2, 0xC3D4E5F6), EFI_SUCCESS);
  EXPECT_EQ(Blade.Bmc.ReadFru(1, 0x0C06, 6),
            (std::vector<uint8_t>{0xA1, 0xB2, 0xF6, 0xE5, 0xD4, 0xC3}));
  EXPECT_EQ(ResultRecordOffset(0x0C00, 2, 5), 0x0C00 + 384 + 30);
}

} // namespace
