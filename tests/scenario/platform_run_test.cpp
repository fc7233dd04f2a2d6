// The platform mailbox's command list run from start to end: records, retries, the overflow
// marker, the lock, and the reset a command asks for.
#include <tuple>

#include "mailbox/platform_run.h"
#include "tests/support/driver_fixture.h"

namespace {

using testing_support::DriverTest;

constexpr UINT16 H = 512;
constexpr UINT32 Done = 0x0E00;
constexpr UINT32 BadKeyword = 0xFD02;
constexpr UINT32 Refused = 0xF502;
constexpr mailbox_format::ResultRecordValue Unwritten = {0xFFFF, 0xFFFFFFFF};

std::string Platform(const std::string& Keyword) {
  return "SET BOOTCFGSETTING1 " + Keyword;
}

// N distinct platform commands that are all done: IOV switches and NUMA, round and round.
std::vector<mailbox_format::MailboxCommand> DoneCommands(size_t N) {
  static const char* const Keywords[] = {"OEMTAL_LOM1=ENABLE", "OEMTAL_LOM2=DISABLE",
                                         "OEMTAL_IPL1=USB", "OEMTAL_IOV1_BUS1=ENABLE"};
  std::vector<mailbox_format::MailboxCommand> Out;
  for (size_t I = 0; I < N; ++I) {
    Out.push_back({static_cast<UINT16>(0x100 + I), Platform(Keywords[I % 4])});
  }
  return Out;
}

class PlatformRunTest : public DriverTest {
protected:
  mailbox_format::MailboxLayout Put(const std::vector<mailbox_format::MailboxCommand>& Commands,
                                    bool Terminated = true) {
    sim::MailboxContents Contents;
    Contents.HeaderOffset = H;
    Contents.Lists = {Commands};
    Contents.TerminateLists = Terminated;
    Layout = sim::WriteMailbox(Blade.Bmc, 1, Contents);
    return Layout;
  }

  EFI_STATUS Run() { return RunPlatformCommands(Transport(), 1, H); }
  // Loads the driver, whose platform pass runs the list as at a real boot. With failure reports
  // on, a report shows that the run failed.
  sim::BootOutcome Boot() {
    EnableFailureReports();
    ResetDriverState();
    return Blade.LoadDriver();
  }

  mailbox_format::ResultRecordValue Record(UINT8 Index) const {
    return sim::ReadResultRecord(Blade.Bmc, 1, Layout.ResultAreaOffset, 0, Index);
  }
  std::vector<uint8_t> ResultBytes(UINT16 Offset, size_t Count) const {
    return Blade.Bmc.ReadFru(1, Layout.ResultAreaOffset + Offset, Count);
  }
  std::vector<uint8_t> Lock() const {
    return Blade.Bmc.ReadFru(1, H + testing_support::LockTurn, 3);
  }

  // FRU offset of command record I of list 0.
  UINT16 RecordOffset(const std::vector<mailbox_format::MailboxCommand>& Commands, size_t I) const {
    size_t Offset = Layout.ListOffsets[0];
    for (size_t K = 0; K < I; ++K) {
      Offset += 2 + Commands[K].Text.size() + 1;
    }
    return static_cast<UINT16>(Offset);
  }
  size_t ReadsAt(UINT16 Offset) const {
    size_t N = 0;
    for (const auto& A : testing_support::Accesses(FruReads())) {
      N += A.Offset == Offset ? 1 : 0;
    }
    return N;
  }
  size_t BladeDataWrites() const {
    return Blade.Firmware.Variables.WriteCount(sim::vars::TalBladeData.Name,
                                               sim::vars::TalBladeData.Guid);
  }

  mailbox_format::MailboxLayout Layout{};
};

struct RunCase {
  const char* Name;
  std::vector<mailbox_format::MailboxCommand> Commands;
  UINT64 Item29;
  EFI_STATUS Result;
  std::vector<mailbox_format::ResultRecordValue> Records; // records 0.. in order
  size_t FailureReports;
};

class PlatformRunRecordsTest : public PlatformRunTest,
                               public ::testing::WithParamInterface<RunCase> {};

// Through the driver's entry for the bytes the BMC reads back; then the same list once more with
// the run called directly, for the status it returns to the entry.
TEST_P(PlatformRunRecordsTest, EachPlatformCommandGetsItsRecord) {
  const RunCase& C = GetParam();
  EnableFailureReports();
  Blade.Platform.SetInfo(29, C.Item29);
  Put(C.Commands);
  ResetDriverState();
  const sim::BootOutcome Outcome = Blade.LoadDriver();
  ASSERT_TRUE(Outcome.Returned);
  EXPECT_EQ(Outcome.Status, EFI_SUCCESS) << "the entry succeeds whatever the run did";
  for (size_t I = 0; I < C.Records.size(); ++I) {
    EXPECT_EQ(Record(static_cast<UINT8>(I)), C.Records[I]) << "record " << I;
  }
  EXPECT_EQ(Record(static_cast<UINT8>(C.Records.size())), Unwritten) << "record past the list";
  EXPECT_EQ(FailureReports(), C.FailureReports);
  EXPECT_EQ(Lock(), (std::vector<uint8_t>{1, 0, 1})) << "the lock stays held";

  Put(C.Commands);
  EXPECT_EQ(Run(), C.Result);
}

INSTANTIATE_TEST_SUITE_P(Lists, PlatformRunRecordsTest,
                         ::testing::Values(RunCase{"Empty", {}, 0, EFI_SUCCESS, {}, 0},
                                           RunCase{"AllDone",
                                                   {{0x0010, Platform("OEMTAL_LOM1=ENABLE")},
                                                    {0x0011, "set b1 oemtal_iov2_bus4=enable"},
                                                    {0x0012, Platform("OEMTAL_HWRAID=ENABLE")}},
                                                   0,
                                                   EFI_SUCCESS,
                                                   {{0x0010, Done}, {0x0011, Done}, {0x0012, Done}},
                                                   0},
                                           RunCase{"BadKeywordIsRecordedAndTheRunGoesOn",
                                                   {{0x0020, Platform("OEMTAL_LOM9=ENABLE")},
                                                    {0x0021, Platform("OEMTAL_LOM1=ENABLE")}},
                                                   0,
                                                   EFI_ABORTED,
                                                   {{0x0020, BadKeyword}, {0x0021, Done}},
                                                   1},
                                           RunCase{"RefusedByTheGate",
                                                   {{0x0030, Platform("OEMTAL_LOM3=ENABLE")},
                                                    {0x0031, Platform("OEMTAL_LOM1=ENABLE")}},
                                                   1,
                                                   EFI_ABORTED,
                                                   {{0x0030, Refused}, {0x0031, Done}},
                                                   1},
                                           RunCase{
                                               "AdapterLinesKeepTheirSlots",
                                               {{0x0040, Platform("OEMTAL_LOM1=ENABLE")},
                                                {0x0041, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
                                                {0x0042, Platform("OEMTAL_LOM2=ENABLE")}},
                                               0,
                                               EFI_SUCCESS,
                                               {{0x0040, Done}, Unwritten, {0x0042, Done}},
                                               0},
                                           RunCase{"TwoFailuresOneReport",
                                                   {{0x0050, Platform("OEMTAL_SIO2=ENABLE")},
                                                    {0x0051, "SET B1 NOTHING"}},
                                                   0,
                                                   EFI_ABORTED,
                                                   {{0x0050, Refused}, {0x0051, BadKeyword}},
                                                   1}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(PlatformRunTest, AFailingCommandIsExecutedThreeTimesFromTheFru) {
  const std::vector<mailbox_format::MailboxCommand> Commands = {
      {0x0001, Platform("OEMTAL_LOM9=ENABLE")}, {0x0002, Platform("OEMTAL_LOM1=ENABLE")}};
  Put(Commands);
  Boot();
  EXPECT_EQ(FailureReports(), 1u);
  EXPECT_EQ(ReadsAt(RecordOffset(Commands, 0)), 3u) << "id read again for every execution";
  EXPECT_EQ(ReadsAt(RecordOffset(Commands, 1)), 1u);
}

TEST_F(PlatformRunTest, ACommandDoneOnItsSecondExecutionCountsAsDone) {
  EnableFailureReports();
  Blade.Platform.QueueInfo(29, 1); // refused once, then allowed
  const std::vector<mailbox_format::MailboxCommand> Commands = {
      {0x0007, Platform("OEMTAL_LOM4=ENABLE")}};
  Put(Commands);
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(Record(0), (mailbox_format::ResultRecordValue{0x0007, Done}));
  EXPECT_EQ(ReadsAt(RecordOffset(Commands, 0)), 2u);
  EXPECT_EQ(FailureReports(), 0u);
  EXPECT_EQ(BladeData()[152 + 1], 0x08) << "LOM4 enabled";
}

TEST_F(PlatformRunTest, RecordBytesAreIdBigEndianAndStatusLittleEndian) {
  Put({{0x1234, Platform("OEMTAL_SIO2=DISABLE")}});
  Boot();
  EXPECT_EQ(ResultBytes(0, 6), (std::vector<uint8_t>{0x12, 0x34, 0x02, 0xF5, 0x00, 0x00}));
}

TEST_F(PlatformRunTest, ThirtyTwoCommandsFitExactly) {
  Put(DoneCommands(32));
  Boot();
  EXPECT_EQ(FailureReports(), 0u);
  EXPECT_EQ(Record(0), (mailbox_format::ResultRecordValue{0x100, Done}));
  EXPECT_EQ(Record(31), (mailbox_format::ResultRecordValue{0x100 + 31, Done}));
  EXPECT_EQ(BladeDataWrites(), 24u) << "the IOV commands change SystemSetup only";
}

TEST_F(PlatformRunTest, TheThirtyThirdCommandIsNotRunAndTheBmcIsTold) {
  Put(DoneCommands(33));
  Boot();
  EXPECT_EQ(FailureReports(), 0u) << "the overflow does not change the result";
  // FD 00 00 00 over the first four bytes of record 0; its last two status bytes stay.
  EXPECT_EQ(ResultBytes(0, 6), (std::vector<uint8_t>{0xFD, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Record(31), (mailbox_format::ResultRecordValue{0x100 + 31, Done}));
  EXPECT_EQ(BladeDataWrites(), 24u) << "command 33 (LOM1) not executed";
  EXPECT_EQ(ResultBytes(6 * 32, 6), std::vector<uint8_t>(6, 0xFF));
}

TEST_F(PlatformRunTest, NoResultAreaOrNoListMeansNothingIsRead) {
  for (bool NoList : {false, true}) {
    SCOPED_TRACE(NoList ? "no list 0" : "no result area");
    sim::MailboxContents Contents;
    Contents.HeaderOffset = H;
    Contents.Lists = {{{0x0001, Platform("OEMTAL_LOM1=ENABLE")}}};
    Contents.NoResultArea = !NoList;
    if (NoList) {
      Contents.Lists = {{}};
      Contents.TerminateLists = false;
    }
    sim::WriteMailbox(Blade.Bmc, 1, Contents);
    Blade.Bmc.ClearTrace();
    EXPECT_EQ(Run(), EFI_SUCCESS);
    // The lock bytes sit right behind the 28-byte header; nothing beyond them is read.
    for (const auto& A : testing_support::Accesses(FruReads())) {
      EXPECT_LE(A.Offset + A.Count, H + 31);
    }
    EXPECT_EQ(BladeDataWrites(), 0u);
  }
}

TEST_F(PlatformRunTest, NoTextBufferLeavesTheMailboxUntouched) {
  Put(DoneCommands(1));
  Blade.Bmc.ClearTrace();
  Blade.Firmware.Pool.FailAllocation(1, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Run(), EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(Blade.Bmc.Trace().empty());
}

TEST_F(PlatformRunTest, ALockTheBmcNeverGivesUpRunsNothing) {
  Put(DoneCommands(2));
  Blade.Bmc.HoldMailboxLock(1, H, UINT64_MAX);
  EXPECT_EQ(Run(), EFI_ABORTED);
  EXPECT_EQ(Blade.Bmc.ReadFru(1, H + testing_support::HostLockFlag, 1)[0], 0)
      << "the host gave up its flag";
  EXPECT_EQ(Record(0), Unwritten);
  EXPECT_EQ(BladeDataWrites(), 0u);
}

TEST_F(PlatformRunTest, AFruFailureCutsTheRunShort) {
  const std::vector<mailbox_format::MailboxCommand> Commands = DoneCommands(3);
  Put(Commands);
  Blade.Bmc.InjectCompletion(
      0xC0, 1, {sim::ipmi::NetFnStorage, sim::ipmi::CmdReadFruData, 1, RecordOffset(Commands, 1)});
  EXPECT_EQ(Run(), EFI_ABORTED);
  EXPECT_EQ(Record(0), (mailbox_format::ResultRecordValue{0x100, Done}));
  EXPECT_EQ(Record(1), Unwritten);
  EXPECT_EQ(Record(2), Unwritten);
}

// A Read FRU Data answer whose size and count byte disagree, met at one read of command 1: its id,
// its text, or its result record read back before the write.
enum class FaultyRead { Id, Text, Record };

class PlatformRunFaultyAnswerTest
    : public PlatformRunTest,
      public ::testing::WithParamInterface<std::tuple<sim::FruAnswerFault, FaultyRead>> {
protected:
  void Arm(const std::vector<mailbox_format::MailboxCommand>& Commands) {
    const auto [Fault, Where] = GetParam();
    const UINT16 Offset =
        Where == FaultyRead::Record
            ? static_cast<UINT16>(Layout.ResultAreaOffset + 6)
            : static_cast<UINT16>(RecordOffset(Commands, 1) + (Where == FaultyRead::Text ? 2 : 0));
    Blade.Bmc.InjectFruAnswerFault(Fault, 1, sim::RequestMatch{{}, {}, 1, Offset});
  }
  UINT8 Numa() const {
    const sim::VariableSpec& V = sim::vars::SystemSetup;
    return Blade.Firmware.Variables.Value(V.Name, V.Guid)->at(112);
  }
};

// Through the driver's entry: one report, no reset, the lock held; the command is carried out only
// when its id and text arrived whole, and gets no record. Then the same by direct call.
TEST_P(PlatformRunFaultyAnswerTest, CutsTheRunShortWithOneReport) {
  const FaultyRead Where = std::get<1>(GetParam());
  const std::vector<mailbox_format::MailboxCommand> Commands = {
      {0x0001, Platform("OEMTAL_LOM1=ENABLE")},
      {0x0002, Platform("OEMTAL_NUMA=ENABLE")},
      {0x0003, Platform("OEMTAL_LOM2=ENABLE")}};
  Put(Commands);
  Arm(Commands);
  const sim::BootOutcome Outcome = Boot();
  ASSERT_TRUE(Outcome.Returned);
  EXPECT_EQ(Outcome.Status, EFI_SUCCESS);
  EXPECT_EQ(FailureReports(), 1u);
  EXPECT_TRUE(Blade.Firmware.Resets().empty());
  EXPECT_EQ(Lock(), (std::vector<uint8_t>{1, 0, 1}));
  EXPECT_EQ(Record(0), (mailbox_format::ResultRecordValue{0x0001, Done}));
  EXPECT_EQ(Record(1), Unwritten);
  EXPECT_EQ(Record(2), Unwritten);
  EXPECT_EQ(Numa(), Where == FaultyRead::Record ? 1 : 0);
  EXPECT_EQ(BladeData()[152], 0x01) << "LOM1 only: command 2 is not run";

  Put(Commands);
  Arm(Commands);
  EXPECT_EQ(Run(), EFI_ABORTED);
  EXPECT_EQ(Record(1), Unwritten);
}

std::string
FaultyReadName(const ::testing::TestParamInfo<std::tuple<sim::FruAnswerFault, FaultyRead>>& Info) {
  const char* Faults[] = {"ShorterThanCount", "LongerThanCount", "CountAboveRequest"};
  const char* Places[] = {"Id", "Text", "Record"};
  return std::string(Places[static_cast<int>(std::get<1>(Info.param))]) +
         Faults[static_cast<int>(std::get<0>(Info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PlatformRunFaultyAnswerTest,
    ::testing::Combine(::testing::Values(sim::FruAnswerFault::ShorterThanCount,
                                         sim::FruAnswerFault::LongerThanCount,
                                         sim::FruAnswerFault::CountAboveRequest),
                       ::testing::Values(FaultyRead::Id, FaultyRead::Text, FaultyRead::Record)),
    FaultyReadName);

TEST_F(PlatformRunTest, AFirmwareFailureOfACommandCutsTheRunShortWithoutItsRecord) {
  Put(DoneCommands(2));
  Blade.Firmware.Variables.FailGet(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid,
                                   EFI_DEVICE_ERROR);
  EXPECT_EQ(Run(), EFI_ABORTED);
  EXPECT_EQ(Record(0), Unwritten);
}

TEST_F(PlatformRunTest, ATextWithoutItsEndIsRefused) {
  sim::MailboxContents Contents;
  Contents.HeaderOffset = H;
  Contents.Lists = {{{0x0001, std::string(255, 'A')}}};
  Contents.ResultAreaOffset = 2048;
  Layout = sim::WriteMailbox(Blade.Bmc, 1, Contents);
  // Overwrite the NUL and what follows: the text now runs on past 256 bytes.
  Blade.Bmc.WriteFru(1, Layout.ListOffsets[0] + 2 + 255, std::vector<uint8_t>(40, 'A'));
  EXPECT_EQ(Run(), EFI_ABORTED);
  EXPECT_EQ(Record(0), Unwritten);
}

// Through the driver's entry: the reset, and the lock until the completion signal.
class PlatformPassTest : public PlatformRunTest {
protected:
  PlatformPassTest() { ResetDriverState(); }
};

TEST_F(PlatformPassTest, AResetFollowsAllRecordsEvenAfterAFailedCommand) {
  EnableFailureReports();
  Put({{0x0001, Platform("OEMTAL_NUMA=ENABLE")},
       {0x0002, Platform("OEMTAL_LOM9=ENABLE")},
       {0x0003, Platform("OEMTAL_LOM1=ENABLE")}});
  sim::BootOutcome Outcome = Blade.LoadDriver();
  EXPECT_TRUE(Outcome.Reset);
  EXPECT_EQ(Record(0), (mailbox_format::ResultRecordValue{0x0001, Done}));
  EXPECT_EQ(Record(1), (mailbox_format::ResultRecordValue{0x0002, BadKeyword}));
  EXPECT_EQ(Record(2), (mailbox_format::ResultRecordValue{0x0003, Done}));
  EXPECT_EQ(FailureReports(), 1u);
  ASSERT_EQ(Blade.Firmware.Resets().size(), 1u);
  EXPECT_EQ(Blade.Firmware.Resets()[0].Type, EfiResetCold);
}

TEST_F(PlatformPassTest, NoResetWhenTheRunIsCutShort) {
  const std::vector<mailbox_format::MailboxCommand> Commands = {
      {0x0001, Platform("OEMTAL_NUMA=ENABLE")}, {0x0002, Platform("OEMTAL_LOM1=ENABLE")}};
  Put(Commands);
  Blade.Bmc.InjectCompletion(
      0xC0, 1, {sim::ipmi::NetFnStorage, sim::ipmi::CmdReadFruData, 1, RecordOffset(Commands, 1)});
  sim::BootOutcome Outcome = Blade.LoadDriver();
  EXPECT_TRUE(Outcome.Returned);
  EXPECT_EQ(Outcome.Status, EFI_SUCCESS);
  EXPECT_FALSE(Outcome.Reset);
  EXPECT_EQ(Record(0), (mailbox_format::ResultRecordValue{0x0001, Done}));
  EXPECT_EQ(
      Blade.Firmware.Variables.Value(sim::vars::SystemSetup.Name, sim::vars::SystemSetup.Guid)
          ->at(112),
      1)
      << "NUMA stays changed";
}

TEST_F(PlatformPassTest, TheLockIsHeldUntilTheCompletionSignal) {
  Put(DoneCommands(2));
  ASSERT_EQ(Blade.LoadDriver().Status, EFI_SUCCESS);
  EXPECT_EQ(Lock(), (std::vector<uint8_t>{1, 0, 1}));
  Blade.InstallCompletionSignal();
  EXPECT_EQ(Lock(), (std::vector<uint8_t>{1, 0, 0}));
}

TEST_F(PlatformPassTest, AFailedRunIsReportedOnceInTheBoot) {
  EnableFailureReports();
  Put({{0x0001, Platform("OEMTAL_SIO2=ENABLE")}});
  ASSERT_EQ(Blade.LoadDriver().Status, EFI_SUCCESS);
  EXPECT_EQ(FailureReports(), 1u);
  EXPECT_EQ(Blade.Firmware.Variables.Value(sim::vars::CLPFailureFlag.Name,
                                           sim::vars::CLPFailureFlag.Guid),
            std::vector<uint8_t>{1});
}

} // namespace
