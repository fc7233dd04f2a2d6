// The adapter command run, through the driver's entry and adapter arrivals with the adapter-ready
// input high: the lists of an adapter's mailbox through its driver's Execute, records and overflow
// markers, the vendor's other pending adapters, the pending masks and the reset.
#include "tests/support/adapter_blade.h"

namespace {

using namespace testing_support;

std::vector<mf::MailboxCommand> Numbered(UINT16 FirstId, size_t Count, const std::string& Text) {
  std::vector<mf::MailboxCommand> Out;
  for (size_t I = 0; I < Count; ++I) {
    Out.push_back({static_cast<UINT16>(FirstId + I), Text + std::to_string(I)});
  }
  return Out;
}

class AdapterRunTest : public AdapterBladeTest {};

TEST_F(AdapterRunTest, ListsRunThroughExecuteWithARecordForEveryCommandSent) {
  PutAdapter(2, 0x10DF);
  SetBlade32(blade::PendingMask10DF, 0x04);
  SetFruIdList({0x04, 0x05, 0, 0, 0, 0});
  const mf::MailboxLayout L = PutMailboxLists(
      0x04, {{{{0x0101, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}, {0x0102, "SET N1 X=Y"}}},
             std::nullopt,
             {{{0x0301, "exit"}}}});
  sim::AdapterDriver& Fc = Blade.Adapters.Add("10DF");
  Fc.AnswerText("exit", {0x0E00});
  Load();
  const std::vector<uint8_t> Before = BladeData();
  const size_t WritesBefore = BladeDataWrites();

  const sim::BootOutcome Outcome = Blade.StartAdapter(Fc, At(2));
  ASSERT_TRUE(Outcome.Returned);
  EXPECT_EQ(Fc.Texts(), (std::vector<std::string>{"SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE",
                                                  "Set Netport1 X=Y", "exit"}));
  for (const sim::ExecuteCall& C : Fc.Calls()) {
    EXPECT_EQ(C.Location, sim::PciAddress("02:00.0"));
    EXPECT_FALSE(C.ThisInstalled) << "Execute receives the run's copy of the interface";
    EXPECT_EQ(C.Reserved, Fc.Signature()) << "copied along with the rest";
    EXPECT_TRUE(C.ResponseZeroed);
  }
  EXPECT_EQ(Record(0x04, L, 0, 0), Bytes({0x01, 0x01, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Record(0x04, L, 0, 1), Bytes({0x01, 0x02, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Blade.Bmc.ReadFru(0x04, L.ResultAreaOffset + 192, 192), Unwritten(192))
      << "no list 1: its block stays as it was";
  EXPECT_EQ(Record(0x04, L, 2, 0), Bytes({0x03, 0x01, 0x00, 0x0E, 0x00, 0x00}));
  EXPECT_EQ(Lock(0x04), Bytes({1, 0, 0})) << "released after the last list";
  EXPECT_EQ(FruIdList(), Bytes({0, 0x05, 0, 0, 0, 0}));
  EXPECT_EQ(FailureReports(), 0u);

  // Function 0 of vendor 0x10DF takes function 1's bit too; nothing else of TalBladeData changes.
  std::vector<uint8_t> Expected = Before;
  Expected[blade::PendingMask10DF] = 0;
  EXPECT_EQ(BladeDataWritten(WritesBefore), std::vector<std::vector<uint8_t>>{Expected});
  EXPECT_TRUE(Blade.Firmware.Resets().empty());
}

class NothingPendingTest : public AdapterBladeTest, public ::testing::WithParamInterface<UINT16> {};

// A vendor with a pending mask that holds nothing (another vendor's mask is full): the mailbox is
// not read past its header, nothing is sent and TalBladeData is not written.
TEST_P(NothingPendingTest, LeavesTheMailboxAlone) {
  PutAdapter(2, GetParam());
  for (size_t Mask : {blade::PendingMask8086, blade::PendingMask10DF, blade::PendingMask14E4}) {
    SetBlade32(Mask, 0xFFFFF);
  }
  SetBlade32(GetParam() == 0x8086   ? blade::PendingMask8086
             : GetParam() == 0x10DF ? blade::PendingMask10DF
                                    : blade::PendingMask14E4,
             0);
  PutMailbox(0x04, {{{0x0001, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}});
  sim::AdapterDriver& Driver = Blade.Adapters.Add();
  Load();
  const size_t Writes = BladeDataWrites();
  Blade.Bmc.ClearTrace();

  ASSERT_TRUE(Blade.StartAdapter(Driver, At(2)).Returned);
  EXPECT_TRUE(Driver.Calls().empty());
  EXPECT_EQ(Accesses(FruReads()), (std::vector<FruAccess>{{0x04, 512, 16}, {0x04, 528, 12}}))
      << "the header FindMailbox reads, nothing more";
  EXPECT_TRUE(FruWrites().empty());
  EXPECT_EQ(BladeDataWrites(), Writes);
  EXPECT_EQ(FailureReports(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Vendors, NothingPendingTest, ::testing::Values(0x8086, 0x10DF, 0x14E4));

// A vendor without a pending mask: its adapter is served once, alone; TalBladeData is written back
// as it was.
TEST_F(AdapterRunTest, AnyOtherVendorIsServedAloneAndTheMasksStayAsTheyWere) {
  PutAdapter(2, 0x15B3);
  PutAdapter(4, 0x15B3);
  SetBlade32(blade::PendingMask8086, 0x14);
  SetFruIdList({0x04, 0, 0, 0, 0, 0});
  const mf::MailboxLayout L = PutMailbox(0x04, {{{0x0007, "SET NETPORT3 OEMTAL_X=1"}}});
  sim::AdapterDriver& Nic = Blade.Adapters.Add("15B3");
  Load();
  const std::vector<uint8_t> Before = BladeData();
  const size_t Writes = BladeDataWrites();

  ASSERT_TRUE(Blade.StartAdapter(Nic, At(2)).Returned);
  EXPECT_EQ(Nic.Texts(), std::vector<std::string>{"SET NETPORT3 OEMTAL_X=1"});
  EXPECT_EQ(Record(0x04, L, 0, 0), Bytes({0x00, 0x07, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(BladeDataWritten(Writes), std::vector<std::vector<uint8_t>>{Before});
  EXPECT_EQ(FruIdList(), Bytes({0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(Blade.Firmware.Resets().empty());
}

// 32 commands and the end id: no marker. 33: the marker over the list's first record, and no later
// list for this adapter; the run still goes on to the next adapter, which meets the same lists.
TEST_F(AdapterRunTest, AListOfMoreThan32CommandsGetsTheOverflowMarker) {
  PutAdapter(2, 0x10DF);
  PutAdapter(4, 0x10DF);
  SetBlade32(blade::PendingMask10DF, 0x04 | 0x10);
  const mf::MailboxLayout L = PutMailbox(
      0x04, {Numbered(0x100, 32, "A"), Numbered(0x200, 33, "B"), Numbered(0x300, 1, "C")});
  sim::AdapterDriver& Fc = Blade.Adapters.Add("10DF");
  Load();

  ASSERT_TRUE(Blade.StartAdapter(Fc, At(2)).Returned);
  ASSERT_EQ(Fc.Calls().size(), 128u) << "32 + 32 for each of the two adapters";
  EXPECT_EQ(Fc.Calls()[63].Text, "B31");
  EXPECT_EQ(Fc.Calls()[64].Text, "A0");
  EXPECT_EQ(Fc.Calls()[64].Location, sim::PciAddress("02:00.2"));
  EXPECT_EQ(Record(0x04, L, 0, 0), Bytes({0x01, 0x00, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Record(0x04, L, 0, 31), Bytes({0x01, 0x1F, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Record(0x04, L, 1, 0), Bytes({0xFD, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Record(0x04, L, 1, 31), Bytes({0x02, 0x1F, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Blade.Bmc.ReadFru(0x04, L.ResultAreaOffset + 2 * 192, 192), Unwritten(192));
  EXPECT_EQ(Blade32(blade::PendingMask10DF), 0u);
  EXPECT_EQ(FailureReports(), 0u);
}

// A command for another port of the adapter is neither sent nor answered; the next one writes the
// slot after it.
TEST_F(AdapterRunTest, ACommandForAnotherPortKeepsItsSlot) {
  PutAdapter(2, 0x8086); // function 0: without it the device is not there
  PutAdapter(3, 0x8086); // function 1: port 2
  SetBlade32(blade::PendingMask8086, 0x08);
  const mf::MailboxLayout L = PutMailbox(0x04, {{{0x0011, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
                                                 {0x0012, "SET NETPORT2 OEMTAL_BOOTENABLE=ENABLE"},
                                                 {0x0013, "SET N2 OEMQX_BOOTENABLE=enable"}}});
  sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
  Nic.AnswerCall(2, {0x0E00});
  Load();

  ASSERT_TRUE(Blade.StartAdapter(Nic, At(3)).Returned);
  EXPECT_EQ(Nic.Texts(),
            (std::vector<std::string>{"SET BootEnable=ENABLE", "Set BootEnable=iSCSI"}));
  EXPECT_EQ(Record(0x04, L, 0, 0), Unwritten(6));
  EXPECT_EQ(Record(0x04, L, 0, 1), Bytes({0x00, 0x12, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Record(0x04, L, 0, 2), Bytes({0x00, 0x13, 0x00, 0x0E, 0x00, 0x00}));
}

// No result area: no command runs, the mailbox stays locked and its FRU device listed; the mask is
// still written back and the reset decided.
TEST_F(AdapterRunTest, NoResultAreaRunsNothingAndKeepsTheMailboxLocked) {
  PutAdapter(6, 0x8086);
  PutAdapter(7, 0x8086);
  SetBlade32(blade::PendingMask8086, 0xC0);
  SetFruIdList({0x05, 0, 0, 0, 0, 0});
  PutMailbox(0x05, {{{0x0001, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}}, /*NoResultArea=*/true);
  sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
  Load();
  const size_t Writes = BladeDataWrites();

  ASSERT_TRUE(Blade.StartAdapter(Nic, At(6)).Returned);
  EXPECT_TRUE(Nic.Calls().empty());
  EXPECT_EQ(Lock(0x05), Bytes({1, 0, 1}));
  EXPECT_EQ(FruIdList(), Bytes({0x05, 0, 0, 0, 0, 0}));
  EXPECT_EQ(BladeDataWrites(), Writes + 1);
  EXPECT_EQ(Blade32(blade::PendingMask8086), 0xC0u) << "no adapter was served";
  EXPECT_EQ(FailureReports(), 0u);
}

// Served through the arriving adapter's Execute, with each later adapter's own PCI I/O handle in
// the copy: rows 2 and 4, function 1 of the first taken along with it.
TEST_F(AdapterRunTest, TheVendorsOtherPendingAdaptersFollowThroughTheSameExecute) {
  for (UINT8 Row : {2, 3, 4, 5}) {
    PutAdapter(Row, 0x10DF);
  }
  SetBlade32(blade::PendingMask10DF, 0x04 | 0x10);
  PutMailbox(0x04, {{{0x0001, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}});
  sim::AdapterDriver& Fc = Blade.Adapters.Add("10DF");
  sim::AdapterDriver& Other = Blade.Adapters.Add("10DF, the same driver on another function");
  Load();
  ASSERT_TRUE(Blade.StartAdapter(Fc, At(2)).Returned);
  ASSERT_TRUE(Blade.StartAdapter(Other, At(4)).Returned);

  ASSERT_EQ(Fc.Calls().size(), 2u);
  EXPECT_EQ(Fc.Calls()[0].Location, sim::PciAddress("02:00.0"));
  EXPECT_EQ(Fc.Calls()[1].Location, sim::PciAddress("02:00.2"));
  EXPECT_EQ(Fc.Calls()[1].Controller, Blade.Pci.PciIoHandle("02:00.2"));
  EXPECT_EQ(Fc.Calls()[0].This, Fc.Calls()[1].This) << "one copy for the whole run";
  EXPECT_TRUE(Other.Calls().empty()) << "row 4 was served already";
  EXPECT_EQ(Blade32(blade::PendingMask10DF), 0u);
}

// Two 0x14E4 adapters pending, the first asking for a reset: its run serves it alone and defers
// the reset; the run of the second resets, though its own commands asked for none.
TEST_F(AdapterRunTest, Vendor14E4ServesOneAdapterPerRunAndDefersTheReset) {
  PutAdapter(12, 0x14E4, 0x16AE);
  PutAdapter(14, 0x14E4, 0x16AE);
  SetBlade32(blade::PendingMask14E4, 0x400 | 0x1000);
  SetFruIdList({0x50, 0x51, 0, 0, 0, 0});
  const mf::MailboxLayout L50 =
      PutMailbox(0x50, {{{0x0001, "SET NETPORT1 OEMTAL_MULTIFUNCTIONMODE=SF"}}});
  const mf::MailboxLayout L51 =
      PutMailbox(0x51, {{{0x0002, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}});
  sim::AdapterDriver& Nic = Blade.Adapters.Add("14E4");
  Load();
  const size_t Writes = BladeDataWrites();

  const sim::BootOutcome First = Blade.StartAdapter(Nic, At(12));
  ASSERT_TRUE(First.Returned) << "no reset yet";
  EXPECT_EQ(Nic.Texts(), std::vector<std::string>{"SET NETPORT1 OEMTAL_MULTIFUNCTIONMODE=SF"});
  EXPECT_EQ(Blade32(blade::PendingMask14E4), 0x1000u);
  EXPECT_EQ(BladeData()[blade::DeferredReset], 0x02);
  EXPECT_EQ(BladeDataWrites(), Writes + 2) << "the mask, then the deferred reset";
  EXPECT_EQ(Record(0x50, L50, 0, 0), Bytes({0x00, 0x01, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Blade.Bmc.ReadFru(0x51, L51.ResultAreaOffset, 6), Unwritten(6));

  const sim::BootOutcome Second = Blade.StartAdapter(Nic, At(14));
  EXPECT_TRUE(Second.Reset);
  ASSERT_EQ(Blade.Firmware.Resets().size(), 1u);
  EXPECT_EQ(Blade.Firmware.Resets()[0].Type, EfiResetCold);
  EXPECT_EQ(Blade32(blade::PendingMask14E4), 0u);
  EXPECT_EQ(Record(0x51, L51, 0, 0), Bytes({0x00, 0x02, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(FruIdList(), Bytes({0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u) << "every buffer back before the reset";
}

struct StatusCase {
  UINT32 Word;
  size_t Reports;
  std::vector<uint8_t> Record;
};

class AdapterStatusTest : public AdapterBladeTest,
                          public ::testing::WithParamInterface<StatusCase> {};

// Any bit of 0xF0FF set is a failure: reported, and recorded all the same; the run goes on.
TEST_P(AdapterStatusTest, FailedStatusWordsAreReportedAndRecorded) {
  PutAdapter(2, 0x10DF);
  SetBlade32(blade::PendingMask10DF, 0x04);
  const mf::MailboxLayout L = PutMailbox(0x04, {{{0x0A0B, "first"}, {0x0C0D, "second"}}});
  sim::AdapterDriver& Fc = Blade.Adapters.Add("10DF");
  Fc.AnswerText("first", {GetParam().Word});
  Load();
  ASSERT_TRUE(Blade.StartAdapter(Fc, At(2)).Returned);
  EXPECT_EQ(FailureReports(), GetParam().Reports);
  EXPECT_EQ(Record(0x04, L, 0, 0), GetParam().Record);
  EXPECT_EQ(Record(0x04, L, 0, 1), Bytes({0x0C, 0x0D, 0x00, 0x05, 0x00, 0x00}));
}

INSTANTIATE_TEST_SUITE_P(
    Words, AdapterStatusTest,
    ::testing::Values(StatusCase{0x00000500, 0, Bytes({0x0A, 0x0B, 0x00, 0x05, 0x00, 0x00})},
                      StatusCase{0x00000E00, 0, Bytes({0x0A, 0x0B, 0x00, 0x0E, 0x00, 0x00})},
                      StatusCase{0x12340F00, 0, Bytes({0x0A, 0x0B, 0x00, 0x0F, 0x34, 0x12})},
                      StatusCase{0x00000001, 1, Bytes({0x0A, 0x0B, 0x01, 0x00, 0x00, 0x00})},
                      StatusCase{0x00001500, 1, Bytes({0x0A, 0x0B, 0x00, 0x15, 0x00, 0x00})},
                      StatusCase{0x0000F502, 1, Bytes({0x0A, 0x0B, 0x02, 0xF5, 0x00, 0x00})}));

// Bits left whose positions hold no adapter, or whose adapter has no PCI I/O handle: the run ends
// as if none were left, and they stay in the mask.
TEST_F(AdapterRunTest, PendingBitsWithNoAdapterToServeStayInTheMask) {
  PutAdapter(6, 0x8086);
  PutAdapter(8, 0x8086);
  Blade.Pci.SetPciIoOrder({"00:02.2", "00:02.0", "00:03.0", "00:03.1", "41:06.0", "41:01.0",
                           "41:08.0", "41:09.0", At(6)});
  SetBlade32(blade::PendingMask8086, 0x40 | 0x80 | 0x100);
  SetFruIdList({0x05, 0, 0, 0, 0, 0});
  const mf::MailboxLayout L =
      PutMailbox(0x05, {{{0x0001, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}});
  sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
  Load();

  ASSERT_TRUE(Blade.StartAdapter(Nic, At(6)).Returned);
  EXPECT_EQ(Nic.Calls().size(), 1u);
  EXPECT_EQ(Record(0x05, L, 0, 0), Bytes({0x00, 0x01, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Blade32(blade::PendingMask8086), 0x80u | 0x100u);
  EXPECT_EQ(Lock(0x05), Bytes({1, 0, 0}));
  EXPECT_EQ(FruIdList(), Bytes({0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(FailureReports(), 0u);
}

// A text with no NUL within the 256-byte buffer is refused: the run stops, one failure report,
// nothing sent, TalBladeData unwritten, the mailbox still locked.
TEST_F(AdapterRunTest, ATextWithoutItsNulWithin256BytesStopsTheRun) {
  PutAdapter(2, 0x10DF);
  SetBlade32(blade::PendingMask10DF, 0x04);
  const mf::MailboxLayout L = PutMailbox(0x04, {{{0x0001, "short"}, {0x0002, "x"}}}, false, 4096);
  // The second text runs on for 300 bytes.
  const UINT16 Second = static_cast<UINT16>(L.ListOffsets[0] + 2 + 6 + 2);
  Blade.Bmc.WriteFru(0x04, Second, std::vector<uint8_t>(300, 'A'));
  sim::AdapterDriver& Fc = Blade.Adapters.Add("10DF");
  Load();
  const size_t Writes = BladeDataWrites();

  ASSERT_TRUE(Blade.StartAdapter(Fc, At(2)).Returned);
  EXPECT_EQ(Fc.Texts(), std::vector<std::string>{"short"});
  EXPECT_EQ(FailureReports(), 1u);
  EXPECT_EQ(BladeDataWrites(), Writes);
  EXPECT_EQ(Lock(0x04), Bytes({1, 0, 1}));
  size_t Longest = 0;
  for (const FruAccess& A : Accesses(FruReads())) {
    if (A.Offset >= Second && A.Offset < Second + 300) {
      Longest = std::max<size_t>(Longest, A.Offset + A.Count - Second);
    }
  }
  EXPECT_EQ(Longest, 256u) << "no byte past the buffer is read";
}

} // namespace
