// A BMC that answers untruthfully or breaks the lock's rules while the platform pass runs three
// commands: what the host does with each, as the BMC sees it afterwards.
#include "tests/support/driver_fixture.h"

namespace {

using testing_support::DriverTest;
namespace mf = mailbox_format;

constexpr UINT16 H = 512;
constexpr mf::ResultRecordValue Unwritten = {0xFFFF, 0xFFFFFFFF};
constexpr UINT32 Done = 0x0E00;

const std::vector<mf::MailboxCommand> Commands = {
    {0x0001, "SET BOOTCFGSETTING1 OEMTAL_LOM1=ENABLE"},
    {0x0002, "SET BOOTCFGSETTING1 OEMTAL_IPL1=USB"},
    {0x0003, "SET BOOTCFGSETTING1 OEMTAL_LOM2=ENABLE"}};

enum class Where { FirstRecordWrite, SecondId, Lock, None };

struct HostileCase {
  const char* Name;
  std::optional<sim::FruAnswerFault> Fault; // on the request Where names
  Where At;
  bool TakesLock;       // the BMC raises its flag once the host holds the mailbox
  bool ResultsOverList; // the result area starts where list 0 does
  std::vector<mf::ResultRecordValue> Records;
  size_t Reports;
  uint8_t HostFlag = 1; // the host keeps the platform mailbox until the completion signal
};

class HostileAnswerTest : public DriverTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileAnswerTest, TheHostGoesOnOrStopsAsTheAnswerAllows) {
  const HostileCase& C = GetParam();
  sim::MailboxContents Contents;
  Contents.Lists = {Commands};
  mf::MailboxLayout L = sim::WriteMailbox(Blade.Bmc, 1, Contents);
  if (C.ResultsOverList) {
    Contents.ResultAreaOffset = L.ListOffsets[0];
    // The header alone changes: the list stays where it was, under the results.
    const std::vector<uint8_t> Header = mf::EncodeMailboxHeader(L.ListOffsets, L.ListOffsets[0]);
    Blade.Bmc.WriteFru(1, H, Header);
    L.ResultAreaOffset = L.ListOffsets[0];
  }
  if (C.Fault) {
    sim::RequestMatch Match{sim::ipmi::NetFnStorage, {}, 1, {}};
    if (C.At == Where::FirstRecordWrite) {
      Match.Cmd = sim::ipmi::CmdWriteFruData;
      Match.Offset = L.ResultAreaOffset;
    } else {
      Match.Cmd = sim::ipmi::CmdReadFruData;
      Match.Offset = static_cast<UINT16>(L.ListOffsets[0] + 2 + Commands[0].Text.size() + 1);
    }
    Blade.Bmc.InjectFruAnswerFault(*C.Fault, 1, Match);
  }
  if (C.TakesLock) {
    Blade.Bmc.ReactToLock(1, H, sim::LockReaction::TakeWhileHostHolds);
  }
  EnableFailureReports();
  const sim::BootOutcome Outcome = Blade.LoadDriver();
  ASSERT_TRUE(Outcome.Returned);
  EXPECT_EQ(Outcome.Status, EFI_SUCCESS);
  for (size_t I = 0; I < C.Records.size(); ++I) {
    EXPECT_EQ(sim::ReadResultRecord(Blade.Bmc, 1, L.ResultAreaOffset, 0, static_cast<UINT8>(I)),
              C.Records[I])
        << I;
  }
  EXPECT_EQ(FailureReports(), C.Reports);
  EXPECT_EQ(Blade.Bmc.ReadFru(1, H + testing_support::HostLockFlag, 1),
            std::vector<uint8_t>{C.HostFlag});
  EXPECT_TRUE(Blade.Firmware.Resets().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, HostileAnswerTest,
    ::testing::Values(
        // Acknowledged and not stored: the host does not read its records back, so record 0 is
        // missing and the run goes on.
        HostileCase{"WriteNotStored",
                    sim::FruAnswerFault::WriteNotStored,
                    Where::FirstRecordWrite,
                    false,
                    false,
                    {Unwritten, {0x0002, Done}, {0x0003, Done}},
                    0},
        // One byte more than the buffer holds: a short count for the host, the run stops.
        HostileCase{"LongerThanBuffer",
                    sim::FruAnswerFault::LongerThanBuffer,
                    Where::SecondId,
                    false,
                    false,
                    {{0x0001, Done}, Unwritten, Unwritten},
                    1},
        HostileCase{"CountAboveRequest",
                    sim::FruAnswerFault::CountAboveRequest,
                    Where::SecondId,
                    false,
                    false,
                    {{0x0001, Done}, Unwritten, Unwritten},
                    1},
        // The BMC raises its flag, against the rules, as soon as the host raises its own: the
        // host, which then yields the turn, waits out its 40 polls and gives up, lowering its flag.
        HostileCase{"LockTakenWhileHostAsks",
                    std::nullopt,
                    Where::None,
                    true,
                    false,
                    {Unwritten, Unwritten, Unwritten},
                    1,
                    0},
        // Records written over the list's first command: the commands after it are read where they
        // are, and every command gets its record.
        HostileCase{"ResultAreaOverTheList",
                    std::nullopt,
                    Where::None,
                    false,
                    true,
                    {{0x0001, Done}, {0x0002, Done}, {0x0003, Done}},
                    0}),
    [](const ::testing::TestParamInfo<HostileCase>& Info) { return Info.param.Name; });

} // namespace
