// A broken or hostile BMC: mailboxes whose lists, texts and offsets are random bytes. Whatever they
// hold, the platform pass must end, stay inside the FRU device's mailbox when it writes, leave no
// pool buffer behind and send a bounded number of requests.
#include <random>

#include "tests/support/driver_fixture.h"

namespace {

using testing_support::Accesses;
using testing_support::DriverTest;

constexpr UINT16 H = 512;
constexpr size_t FruSize = 8192;
constexpr size_t RecordSize = 6;

const char* const Fragments[] = {"SET BOOTCFGSETTING1 ",
                                 "SET B1 ",
                                 "SET NETPORT1 ",
                                 "OEMTAL_UUID=",
                                 "OEMTAL_SERIAL=",
                                 "OEMTAL_ACTIVECORE=",
                                 "OEMTAL_FCOE=",
                                 "OEMTAL_LOM3=ENABLE",
                                 "OEMTAL_SIO1=DISABLE",
                                 "OEMTAL_ACLINK=STAYON",
                                 "0123456789abcdefABCDEF",
                                 "\xff\x80_=",
                                 ""};

class HostileMailboxTest : public DriverTest {
protected:
  HostileMailboxTest() {
    ResetDriverState();
    Blade.Bmc.AddFruDevice(1, FruSize); // replaces the fixture's device
  }

  // Random bytes with text-like runs, then a valid header whose offsets point anywhere.
  void FillFru(std::mt19937& Random) {
    std::vector<uint8_t>& Fru = Blade.Bmc.Fru(1);
    std::uniform_int_distribution<int> Byte(0, 255);
    std::uniform_int_distribution<size_t> Pick(0, std::size(Fragments) - 1);
    for (size_t I = 0; I < Fru.size();) {
      if (Byte(Random) < 96) {
        const std::string Piece = Fragments[Pick(Random)];
        for (char C : Piece) {
          if (I < Fru.size()) {
            Fru[I++] = static_cast<uint8_t>(C);
          }
        }
      } else {
        Fru[I++] = Byte(Random) < 40 ? 0 : static_cast<uint8_t>(Byte(Random));
      }
    }
    std::uniform_int_distribution<int> Offset(0, 0xFFFF);
    std::array<UINT16, 8> Lists{};
    for (UINT16& L : Lists) {
      L = static_cast<UINT16>(Byte(Random) < 128 ? 600 + Offset(Random) % 7000 : Offset(Random));
    }
    const UINT16 Results =
        static_cast<UINT16>(Byte(Random) < 220 ? 600 + Offset(Random) % 7000 : Offset(Random));
    Results_ = Results;
    const std::vector<uint8_t> Header = mailbox_format::EncodeMailboxHeader(Lists, Results);
    std::copy(Header.begin(), Header.end(), Fru.begin() + H);
    Fru[H + testing_support::LockTurn] = Fru[H + testing_support::BmcLockFlag] =
        Fru[H + testing_support::HostLockFlag] = 0;
  }

  // A write may touch the lock bytes, or the 32 records of list 0 (the overflow marker included).
  bool WriteAllowed(UINT16 Offset, size_t Count) const {
    const size_t End = Offset + Count;
    if (Offset >= H + testing_support::LockTurn && End <= H + testing_support::HostLockFlag + 1u) {
      return true;
    }
    // Offsets wrap at 65536, so a result area near the top continues at the bottom.
    const UINT16 IntoResults = static_cast<UINT16>(Offset - Results_);
    return IntoResults + Count <= 32u * RecordSize;
  }

  UINT16 Results_ = 0;
};

// Seeds run in one test, one boot each, so that they cost one process rather than hundreds.
TEST_F(HostileMailboxTest, ThePassEndsAndWritesOnlyItsOwnBytes) {
  Blade.Platform.SetPortValue(sim::AdapterReadyInputPort, 1);
  size_t BootsWithRecords = 0;
  for (unsigned Seed = 0; Seed < 300; ++Seed) {
    SCOPED_TRACE("seed " + std::to_string(Seed));
    std::mt19937 Random(Seed);
    FillFru(Random);
    Blade.Bmc.ClearTrace();
    const sim::BootOutcome Outcome = Blade.LoadDriver();
    EXPECT_FALSE(Outcome.Hang) << Outcome.HangReason;
    EXPECT_TRUE(Outcome.Returned || Outcome.Reset);
    // Per command at most three executions of an id read, 16 text chunks and a record (read and
    // write); plus the search, the lock and the header words.
    EXPECT_LT(Blade.Bmc.Trace().size(), 32u * 3 * 20 + 64);
    bool Recorded = false;
    for (const auto& W : Accesses(FruWrites())) {
      EXPECT_TRUE(WriteAllowed(W.Offset, W.Count)) << W;
      Recorded |= W.Count == RecordSize;
    }
    BootsWithRecords += Recorded ? 1 : 0;
    EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u);
    Blade.PowerCycle();
  }
  // The random lists must reach the commands often enough to mean something.
  EXPECT_GT(BootsWithRecords, 30u) << BootsWithRecords;
}

} // namespace
