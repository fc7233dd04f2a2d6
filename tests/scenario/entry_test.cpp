// Loading the driver into a simulated blade: the entry's notifications, the platform pass, and the
// completion signal.
#include "tests/support/driver_fixture.h"

namespace {

using testing_support::Accesses;
using testing_support::DriverTest;
using testing_support::FruAccess;

constexpr UINT16 H = 768;
// TalBladeData fields.
constexpr size_t Ipl1Device = 3;
constexpr size_t DeviceEnableMask = 152;

class EntryTest : public DriverTest {
protected:
  explicit EntryTest(const sim::BladeOptions& Options = {}) : DriverTest(Options) {
    // A freshly loaded image: the fixture's tables are not there yet.
    ResetDriverState();
  }

  mailbox_format::MailboxLayout PutMailbox(UINT8 FruId) {
    sim::MailboxContents Contents;
    Contents.HeaderOffset = H;
    Contents.Lists = {{{0x0001, "SET BOOTCFGSETTING1 OEMTAL_LOM1=ENABLE"}}};
    return sim::WriteMailbox(Blade.Bmc, FruId, Contents);
  }

  std::vector<const sim::ServiceCall*> CallsOf(const std::string& Service) {
    std::vector<const sim::ServiceCall*> Out;
    for (const sim::ServiceCall& C : Blade.Firmware.Calls()) {
      if (C.Service == Service) {
        Out.push_back(&C);
      }
    }
    return Out;
  }

  size_t BladeDataWrites() {
    return Blade.Firmware.Variables.WriteCount(sim::vars::TalBladeData.Name,
                                               sim::vars::TalBladeData.Guid);
  }
};

TEST_F(EntryTest, ArmsThreeNotificationsInOrder) {
  sim::BootOutcome Outcome = Blade.LoadDriver();
  ASSERT_TRUE(Outcome.Returned);
  EXPECT_EQ(Outcome.Status, EFI_SUCCESS);

  std::vector<const sim::ServiceCall*> Events = CallsOf("CreateEvent");
  std::vector<const sim::ServiceCall*> Notifies = CallsOf("RegisterProtocolNotify");
  ASSERT_EQ(Events.size(), 3u);
  ASSERT_EQ(Notifies.size(), 3u);
  const EFI_EVENT_NOTIFY Functions[3] = {HandleAdapterArrival, ReleasePlatformMailbox,
                                         CheckPendingFruIds};
  const EFI_GUID Guids[3] = {AdapterClpProtocolGuid, CompletionSignalProtocolGuid,
                             CompletionSignalProtocolGuid};
  for (size_t I = 0; I < 3; ++I) {
    EXPECT_EQ(Events[I]->EventType, EVT_NOTIFY_SIGNAL) << I;
    EXPECT_EQ(Events[I]->Tpl, TPL_CALLBACK) << I;
    EXPECT_EQ(Events[I]->Notify, Functions[I]) << I;
    EXPECT_TRUE(GuidEquals(Notifies[I]->Guid, Guids[I])) << I;
    EXPECT_EQ(Notifies[I]->Event, Events[I]->Event) << I;
  }
  // Each event is created and registered before the next one is created.
  const auto& All = Blade.Firmware.Calls();
  EXPECT_LT(Events[0] - All.data(), Notifies[0] - All.data());
  EXPECT_LT(Notifies[0] - All.data(), Events[1] - All.data());
  EXPECT_LT(Notifies[1] - All.data(), Events[2] - All.data());
  EXPECT_NE(Driver.AdapterNotifyRegistration, nullptr);
  // The platform pass runs after the notifications are armed.
  std::vector<const sim::ServiceCall*> Locates = CallsOf("LocateProtocol");
  ASSERT_GE(Locates.size(), 2u);
  EXPECT_TRUE(GuidEquals(Locates[0]->Guid, IpmiTransportProtocolGuid));
  EXPECT_TRUE(GuidEquals(Locates[1]->Guid, PlatformInfoProtocolGuid));
  EXPECT_GT(Locates[0] - All.data(), Notifies[2] - All.data());
}

TEST_F(EntryTest, KeepsTheServiceTablesOfTheFirstCall) {
  Blade.LoadDriver();
  EFI_SYSTEM_TABLE Other = *Blade.Firmware.SystemTable();
  InitServiceTables(reinterpret_cast<EFI_HANDLE>(0x1234), &Other);
  EXPECT_EQ(Driver.SystemTable, Blade.Firmware.SystemTable());
  EXPECT_EQ(Driver.BootServices, Blade.Firmware.SystemTable()->BootServices);
  EXPECT_EQ(Driver.RuntimeServices, Blade.Firmware.SystemTable()->RuntimeServices);
  EXPECT_EQ(Driver.ImageHandle, Blade.Firmware.ImageHandle());
}

struct RegistrationFailure {
  const char* Name;
  bool CreateEvent; // else RegisterProtocolNotify
  unsigned Nth;
  size_t EventsLeft;
};

class EntryRegistrationTest : public EntryTest,
                              public ::testing::WithParamInterface<RegistrationFailure> {};

TEST_P(EntryRegistrationTest, FailureEndsTheEntryWithItsStatus) {
  const RegistrationFailure& C = GetParam();
  PutMailbox(1);
  if (C.CreateEvent) {
    Blade.Firmware.FailCreateEvent(C.Nth, EFI_OUT_OF_RESOURCES);
  } else {
    Blade.Firmware.FailRegisterProtocolNotify(C.Nth, EFI_OUT_OF_RESOURCES);
  }
  sim::BootOutcome Outcome = Blade.LoadDriver();
  ASSERT_TRUE(Outcome.Returned);
  EXPECT_EQ(Outcome.Status, EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(Blade.Bmc.Trace().empty()) << "the platform pass does not run";
  // Events already created stay armed; nothing closes them.
  EXPECT_EQ(Blade.Firmware.EventCount(), C.EventsLeft);
}

INSTANTIATE_TEST_SUITE_P(Steps, EntryRegistrationTest,
                         ::testing::Values(RegistrationFailure{"FirstEvent", true, 1, 0},
                                           RegistrationFailure{"SecondEvent", true, 2, 1},
                                           RegistrationFailure{"ThirdEvent", true, 3, 2},
                                           RegistrationFailure{"FirstNotify", false, 1, 1},
                                           RegistrationFailure{"SecondNotify", false, 2, 2},
                                           RegistrationFailure{"ThirdNotify", false, 3, 3}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

struct FruChoice {
  UINT64 Item30;
  UINT8 FruId;
};

class MailboxFruTest : public EntryTest, public ::testing::WithParamInterface<FruChoice> {};

TEST_P(MailboxFruTest, Item30ChoosesTheFruDevice) {
  const FruChoice& C = GetParam();
  Blade.Platform.SetInfo(30, C.Item30);
  PutMailbox(1);
  PutMailbox(2);
  ASSERT_EQ(Blade.LoadDriver().Status, EFI_SUCCESS);
  for (const auto& Requests : {FruReads(), FruWrites()}) {
    for (const FruAccess& A : Accesses(Requests)) {
      EXPECT_EQ(A.FruId, C.FruId);
    }
  }
  // The chosen device's mailbox is locked and its command gets its record.
  EXPECT_EQ(Blade.Bmc.ReadFru(C.FruId, H + testing_support::HostLockFlag, 1)[0], 1);
  const UINT8 Other = C.FruId == 1 ? 2 : 1;
  EXPECT_EQ(Blade.Bmc.ReadFru(Other, H + testing_support::HostLockFlag, 1)[0], 0);
}

INSTANTIATE_TEST_SUITE_P(Answers, MailboxFruTest,
                         ::testing::Values(FruChoice{0, 1}, FruChoice{1, 2}, FruChoice{2, 2},
                                           FruChoice{0xFFFFFFFFFFFFFFFFull, 2}));

TEST_F(EntryTest, AdapterReadyLowMakesTheNetworkTheFirstBootDevice) {
  Blade.Platform.SetPortValue(sim::AdapterReadyInputPort, 0xFFFFFFFE);
  // No mailbox anywhere: the boot device is still set first.
  ASSERT_EQ(Blade.LoadDriver().Status, EFI_SUCCESS);
  std::vector<uint8_t> Expected(280, 0);
  Expected[Ipl1Device] = 8;
  EXPECT_EQ(BladeData(), Expected);
  EXPECT_EQ(FruReads().size(), 16u);
  EXPECT_TRUE(Blade.Platform.StatusCodes().empty());
}

TEST_F(EntryTest, AdapterReadyHighLeavesTheFirstBootDeviceAlone) {
  Blade.Platform.SetPortValue(sim::AdapterReadyInputPort, 0x00000001);
  PutMailbox(1);
  ASSERT_EQ(Blade.LoadDriver().Status, EFI_SUCCESS);
  // The one write is the mailbox's LOM1 command.
  EXPECT_EQ(BladeDataWrites(), 1u);
  EXPECT_EQ(BladeData()[Ipl1Device], 0);
  EXPECT_EQ(BladeData()[DeviceEnableMask], 1);
}

TEST_F(EntryTest, FailingBladeDataStopsThePassBeforeTheMailbox) {
  Blade.Platform.SetPortValue(sim::AdapterReadyInputPort, 0);
  Blade.Firmware.Variables.FailGet(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid,
                                   EFI_DEVICE_ERROR);
  ASSERT_EQ(Blade.LoadDriver().Status, EFI_SUCCESS);
  EXPECT_TRUE(Blade.Bmc.Trace().empty());
  EXPECT_TRUE(Blade.Platform.InfoQueries().empty());
}

TEST_F(EntryTest, FailingPlatformQueryStopsThePass) {
  Blade.Platform.FailInfo(30, EFI_DEVICE_ERROR);
  PutMailbox(1);
  ASSERT_EQ(Blade.LoadDriver().Status, EFI_SUCCESS);
  EXPECT_TRUE(Blade.Bmc.Trace().empty());
}

TEST_F(EntryTest, CompletionSignalReleasesThePlatformMailboxThenChecks) {
  EnableFailureReports();
  PutMailbox(1);
  ASSERT_EQ(Blade.LoadDriver().Status, EFI_SUCCESS);
  // The lock as the platform command run leaves it: held by the host.
  Blade.Bmc.WriteFru(1, H + testing_support::HostLockFlag, {1});
  Blade.Bmc.ClearTrace();

  Blade.InstallCompletionSignal();
  EXPECT_EQ(Blade.Bmc.ReadFru(1, H + testing_support::HostLockFlag, 1)[0], 0);
  EXPECT_EQ(Accesses(FruWrites()),
            (std::vector<FruAccess>{{1, H + testing_support::HostLockFlag, 1}}));
  std::vector<const sim::ServiceCall*> Runs = CallsOf("Notify");
  ASSERT_EQ(Runs.size(), 2u);
  EXPECT_EQ(Runs[0]->Notify, ReleasePlatformMailbox);
  EXPECT_EQ(Runs[1]->Notify, CheckPendingFruIds);
  EXPECT_EQ(FailureReports(), 0u) << "no FRU device pending";

  // A second signal runs both again; the released lock costs no write.
  Blade.Bmc.ClearTrace();
  Blade.InstallCompletionSignal();
  EXPECT_TRUE(FruWrites().empty());
  EXPECT_EQ(CallsOf("Notify").size(), 4u);
}

TEST_F(EntryTest, NoMailboxMeansNothingToReleaseAndNoReport) {
  EnableFailureReports();
  ASSERT_EQ(Blade.LoadDriver().Status, EFI_SUCCESS);
  Blade.InstallCompletionSignal();
  EXPECT_TRUE(FruWrites().empty());
  EXPECT_EQ(FailureReports(), 0u);
}

struct PendingCase {
  const char* Name;
  std::optional<std::vector<uint8_t>> List;
  size_t Reports;
};

class PendingAtCompletionTest : public EntryTest,
                                public ::testing::WithParamInterface<PendingCase> {};

TEST_P(PendingAtCompletionTest, LeftoverFruDevicesAreReported) {
  const PendingCase& C = GetParam();
  EnableFailureReports();
  if (C.List) {
    Blade.Firmware.Variables.Create(sim::vars::ClpCommandFruIdList.Name,
                                    sim::vars::ClpCommandFruIdList.Guid, 6, *C.List);
  } else {
    Blade.Firmware.Variables.Delete(sim::vars::ClpCommandFruIdList.Name,
                                    sim::vars::ClpCommandFruIdList.Guid);
  }
  ASSERT_EQ(Blade.LoadDriver().Status, EFI_SUCCESS);
  Blade.InstallCompletionSignal();
  EXPECT_EQ(FailureReports(), C.Reports);
  EXPECT_EQ(Blade.Firmware.Variables.WriteCount(sim::vars::ClpCommandFruIdList.Name,
                                                sim::vars::ClpCommandFruIdList.Guid),
            0u);
}

INSTANTIATE_TEST_SUITE_P(Lists, PendingAtCompletionTest,
                         ::testing::Values(PendingCase{"Empty", std::vector<uint8_t>(6, 0), 0},
                                           PendingCase{"OnePending",
                                                       std::vector<uint8_t>{0, 0, 0, 0, 9, 0}, 1},
                                           PendingCase{"Absent", std::nullopt, 1}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

class MissingProtocolTest : public EntryTest, public ::testing::WithParamInterface<int> {
protected:
  MissingProtocolTest() : EntryTest(Options()) {}
  static sim::BladeOptions Options() {
    sim::BladeOptions O;
    O.InstallIpmiTransport = GetParam() != 0;
    O.InstallPlatformInfo = GetParam() != 1;
    return O;
  }
};

TEST_P(MissingProtocolTest, PassAndReleaseStopQuietly) {
  EnableFailureReports();
  PutMailbox(1);
  Blade.Bmc.WriteFru(1, H + testing_support::HostLockFlag, {1});
  sim::BootOutcome Outcome = Blade.LoadDriver();
  EXPECT_EQ(Outcome.Status, EFI_SUCCESS);
  Blade.InstallCompletionSignal();
  EXPECT_TRUE(Blade.Bmc.Trace().empty());
  EXPECT_EQ(Blade.Bmc.ReadFru(1, H + testing_support::HostLockFlag, 1)[0], 1);
  EXPECT_EQ(FailureReports(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Protocols, MissingProtocolTest, ::testing::Values(0, 1));

TEST_F(EntryTest, PowerCycleLoadsAFreshDriver) {
  EnableFailureReports();
  Blade.Firmware.Variables.Delete(sim::vars::ClpCommandFruIdList.Name,
                                  sim::vars::ClpCommandFruIdList.Guid);
  ASSERT_EQ(Blade.LoadDriver().Status, EFI_SUCCESS);
  Blade.InstallCompletionSignal();
  ASSERT_EQ(FailureReports(), 1u);

  Blade.PowerCycle();
  EXPECT_EQ(Driver.SystemTable, nullptr);
  EXPECT_EQ(Driver.AdapterNotifyRegistration, nullptr);
  EnableFailureReports();
  Blade.Firmware.Variables.Delete(sim::vars::ClpCommandFruIdList.Name,
                                  sim::vars::ClpCommandFruIdList.Guid);
  ASSERT_EQ(Blade.LoadDriver().Status, EFI_SUCCESS);
  Blade.InstallCompletionSignal();
  // The failure flag did not survive the cycle: the new boot reports again.
  EXPECT_EQ(FailureReports(), 2u);
}

} // namespace
