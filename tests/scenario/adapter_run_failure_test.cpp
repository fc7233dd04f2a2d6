// RunAdapterCommands called directly, for the status each failure returns: what was sent, what was
// written, what stays locked, and no buffer left behind.
#include <functional>

#include "adapter/adapter_run.h"
#include "mailbox/mailbox.h"
#include "tests/support/adapter_blade.h"

namespace {

using namespace testing_support;

struct RunFault {
  const char* Name;
  std::function<void(sim::Blade&)> Arrange; // after the mailbox is found, before the run
  EFI_STATUS Status;
  size_t Calls;        // Execute calls
  size_t BladeWrites;  // TalBladeData writes, failed ones included
  UINT8 HostLockAfter; // FRU device 4
  size_t Reports;      // those the run's FRU access and status words make
};

// Two 0x10DF adapters pending in FRU device 4's mailbox, rows 2 and 4, two commands each.
class RunCallTest : public AdapterBladeTest, public ::testing::WithParamInterface<RunFault> {
protected:
  RunCallTest() {
    PutAdapter(2, 0x10DF);
    PutAdapter(4, 0x10DF);
    SetBlade32(blade::PendingMask10DF, 0x04 | 0x10);
    Layout = PutMailbox(0x04, {{{0x0001, "one"}, {0x0002, "two"}}});
    Blade.Adapters.Start(Fc, At(2)); // the driver is not loaded: nothing runs
  }
  EFI_STATUS Run(const std::function<void(sim::Blade&)>& Arrange) {
    MailboxHeader Header;
    UINT16 Offset = 0;
    EXPECT_EQ(FindMailbox(Transport(), 0x04, &Header, &Offset), EFI_SUCCESS);
    Arrange(Blade);
    UINT8 Flags = 0;
    return RunAdapterCommands(Transport(), 2, &Header, Offset, Fc.Record(At(2)), &Flags);
  }
  sim::AdapterDriver& Fc = Blade.Adapters.Add("10DF");
  mf::MailboxLayout Layout{};
};

TEST_P(RunCallTest, EachFailureEndsTheRunAsItShould) {
  const RunFault& F = GetParam();
  EXPECT_EQ(Run(F.Arrange), F.Status);
  EXPECT_EQ(Fc.Calls().size(), F.Calls);
  EXPECT_EQ(BladeDataWrites(), F.BladeWrites);
  EXPECT_EQ(Lock(0x04)[2], F.HostLockAfter);
  EXPECT_EQ(FailureReports(), F.Reports);
  EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u);
  EXPECT_TRUE(Blade.Firmware.Resets().empty());
}

void FailAllocation(sim::Blade& B, unsigned Nth) {
  B.Firmware.Pool.FailAllocation(Nth, EFI_OUT_OF_RESOURCES);
}
void FailBladeData(sim::Blade& B, bool Write, EFI_STATUS Status, unsigned After = 0) {
  const sim::VariableSpec& V = sim::vars::TalBladeData;
  if (Write) {
    B.Firmware.Variables.FailSet(V.Name, V.Guid, Status, 1, After);
  } else {
    B.Firmware.Variables.FailGet(V.Name, V.Guid, Status, 1, After);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, RunCallTest,
                         ::testing::
                             Values(
                                 RunFault{"NoFault", [](sim::Blade&) {}, EFI_SUCCESS, 4, 1, 0, 0},
                                 RunFault{"PciIoLookupFails",
                                          [](sim::Blade& B) { B.Firmware.FailHandleProtocol(1); },
                                          EFI_UNSUPPORTED, 0, 0, 0, 0},
                                 RunFault{"GetLocationFails",
                                          [](sim::Blade& B) {
                                            B.Pci.FailGetLocation("02:00.0", EFI_DEVICE_ERROR, 1);
                                          },
                                          EFI_DEVICE_ERROR, 0, 0, 0, 0},
                                 RunFault{
                                     "BladeDataUnreadable",
                                     [](sim::Blade& B) { FailBladeData(B, false, EFI_NOT_FOUND); },
                                     EFI_NOT_FOUND, 0, 0, 0, 0},
                                 RunFault{"NoBladeDataBuffer",
                                          [](sim::Blade& B) { FailAllocation(B, 1); },
                                          EFI_OUT_OF_RESOURCES, 0, 0, 0, 0},
                                 RunFault{"NoCommandBuffer",
                                          [](sim::Blade& B) { FailAllocation(B, 2); },
                                          EFI_OUT_OF_RESOURCES, 0, 0, 0, 0},
                                 RunFault{"NoResponseBuffer",
                                          [](sim::Blade& B) { FailAllocation(B, 3); }, EFI_ABORTED,
                                          0, 0, 0, 0},
                                 RunFault{"NoInterfaceCopy",
                                          [](sim::Blade& B) { FailAllocation(B, 4); },
                                          EFI_OUT_OF_RESOURCES, 0, 0, 0, 0},
                                 RunFault{"NoHandleBufferForTheNextAdapter",
                                          [](sim::Blade& B) { FailAllocation(B, 5); },
                                          EFI_OUT_OF_RESOURCES, 2, 0, 0, 0},
                                 RunFault{"NextAdapterNotLocated",
                                          [](sim::Blade& B) {
                                            B.Firmware.FailLocateHandleBuffer(1, EFI_DEVICE_ERROR);
                                          },
                                          EFI_DEVICE_ERROR, 2, 0, 0, 0},
                                 RunFault{
                                     "NextMailboxUnreadable",
                                     [](sim::Blade& B) {
                                       B.Bmc.InjectStatus(EFI_NO_RESPONSE, 1, {0x0A, 0x11, 4, H});
                                     },
                                     EFI_NO_RESPONSE, 2, 0, 0, 1},
                                 RunFault{"LockNeverGiven",
                                          [](sim::Blade& B) {
                                            B.Bmc.HoldMailboxLock(0x04, H, UINT64_MAX);
                                          },
                                          EFI_ABORTED, 0, 0, 0, 0},
                                 RunFault{
                                     "RecordReadFails",
                                     [](sim::Blade& B) {
                                       // The second record's id, right behind "one".
                                       const UINT16 Second = static_cast<UINT16>(
                                           sim::WriteMailbox(
                                               B.Bmc, 4,
                                               sim::MailboxContents{H, {{{1, "one"}, {2, "two"}}}})
                                               .ListOffsets[0] +
                                           6);
                                       B.Bmc.InjectStatus(EFI_TIMEOUT, 1, {0x0A, 0x11, 4, Second});
                                     },
                                     EFI_ABORTED, 1, 0, 1, 1},
                                 RunFault{"ExecuteFails",
                                          [](sim::Blade& B) {
                                            B.Adapters[0].AnswerCall(2, {0x0500, EFI_DEVICE_ERROR});
                                          },
                                          EFI_ABORTED, 2, 0, 1, 0},
                                 RunFault{"RewriteRefusesAShortFormTooLongToWiden",
                                          [](sim::Blade& B) {
                                            sim::WriteMailbox(
                                                B.Bmc, 4,
                                                sim::MailboxContents{
                                                    H, {{{1, "SET N1 " + std::string(245, 'x')}}}});
                                          },
                                          EFI_ABORTED, 0, 0, 1, 0},
                                 RunFault{
                                     "MaskWriteFails",
                                     [](sim::Blade&
                                            B) { FailBladeData(B, true, EFI_WRITE_PROTECTED); },
                                     EFI_WRITE_PROTECTED, 4, 1, 0, 0},
                                 RunFault{
                                     "FreshReadFails",
                                     [](sim::Blade&
                                            B) { FailBladeData(B, false, EFI_DEVICE_ERROR, 1); },
                                     EFI_DEVICE_ERROR, 4, 0, 0, 0}),
                         [](const ::testing::TestParamInfo<RunFault>& Info) {
                           return std::string(Info.param.Name);
                         });

// A record written before the failing Execute stays; the failing command gets none.
TEST_F(RunCallTest, RecordsBeforeAFailingExecuteStay) {
  Fc.AnswerCall(2, {0x0500, EFI_DEVICE_ERROR});
  EXPECT_EQ(Run([](sim::Blade&) {}), EFI_ABORTED);
  EXPECT_EQ(Record(0x04, Layout, 0, 0), Bytes({0x00, 0x01, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Record(0x04, Layout, 0, 1), Unwritten(6));
  EXPECT_EQ(Blade32(blade::PendingMask10DF), 0x14u) << "every bit it had";
}

// Vendor 0x14E4 asking for a reset: a failing write of TalBladeData means no reset, and no
// deferred one.
class DeferredResetWriteTest : public AdapterBladeTest,
                               public ::testing::WithParamInterface<unsigned> {};

TEST_P(DeferredResetWriteTest, AFailingWriteMeansNoReset) {
  const unsigned After = GetParam(); // 0: the mask's write fails; 1: the deferred reset's
  PutAdapter(12, 0x14E4, 0x16AE);
  PutAdapter(14, 0x14E4, 0x16AE);
  SetBlade32(blade::PendingMask14E4, After == 0 ? 0x400 : 0x400 | 0x1000);
  PutMailbox(0x50, {{{0x0001, "SET NETPORT1 OEMTAL_MULTIFUNCTIONMODE=SF"}}});
  sim::AdapterDriver& Nic = Blade.Adapters.Add("14E4");
  Blade.Adapters.Start(Nic, At(12));
  MailboxHeader Header;
  UINT16 Offset = 0;
  ASSERT_EQ(FindMailbox(Transport(), 0x50, &Header, &Offset), EFI_SUCCESS);
  Blade.Firmware.Variables.FailSet(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid,
                                   EFI_WRITE_PROTECTED, 1, After);
  UINT8 Flags = 0;
  EXPECT_EQ(RunAdapterCommands(Transport(), 12, &Header, Offset, Nic.Record(At(12)), &Flags),
            EFI_WRITE_PROTECTED);
  EXPECT_EQ(Flags & 0x02, 0x02);
  EXPECT_TRUE(Blade.Firmware.Resets().empty());
  EXPECT_EQ(BladeData()[blade::DeferredReset], 0);
  EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Writes, DeferredResetWriteTest, ::testing::Values(0u, 1u));

} // namespace
