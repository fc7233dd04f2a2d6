// The assembled blade: what a boot starts with, how a reset or a hang ends one, what a power cycle
// keeps, and the platform behind the hardware-access functions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/protocols.h"
#include "hw/hw.h"
#include "sim/blade.h"
#include "sim/problems.h"

namespace {

constexpr EFI_GUID Trigger = {0x55555555, 0x5555, 0x5555, {5, 5, 5, 5, 5, 5, 5, 5}};

EFI_BOOT_SERVICES* Bs(sim::Blade& B) {
  return B.Firmware.SystemTable()->BootServices;
}

// Arms Notify for installs of Trigger, as a driver would.
void OnTrigger(sim::Blade& B, EFI_EVENT_NOTIFY Notify) {
  EFI_EVENT Event = nullptr;
  void* Registration = nullptr;
  ASSERT_EQ(Bs(B)->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Notify, nullptr, &Event),
            EFI_SUCCESS);
  ASSERT_EQ(Bs(B)->RegisterProtocolNotify(const_cast<EFI_GUID*>(&Trigger), Event, &Registration),
            EFI_SUCCESS);
}

void EFIAPI ResetNow(EFI_EVENT, void*) {
  sim::Blade::Current().Firmware.SystemTable()->RuntimeServices->ResetSystem(
      EfiResetCold, EFI_SUCCESS, 0, nullptr);
}

void EFIAPI WaitForever(EFI_EVENT, void*) {
  for (;;) {
    sim::Blade::Current().Firmware.SystemTable()->BootServices->Stall(1000 * 1000);
  }
}

std::vector<uint8_t> Var(sim::Blade& B, const sim::VariableSpec& V) {
  return B.Firmware.Variables.Value(V.Name, V.Guid).value_or(std::vector<uint8_t>{});
}

TEST(SimBlade, BootStartsWithTheDefaultProtocolsAndVariables) {
  sim::Blade Blade;
  const EFI_GUID Defaults[] = {IpmiTransportProtocolGuid, PlatformInfoProtocolGuid,
                               EFI_STATUS_CODE_RUNTIME_PROTOCOL_GUID};
  std::vector<EFI_HANDLE> Handles;
  for (const EFI_GUID& G : Defaults) {
    ASSERT_EQ(Blade.Firmware.HandlesWith(G).size(), 1u);
    Handles.push_back(Blade.Firmware.HandlesWith(G)[0]);
  }
  EXPECT_NE(Handles[0], Handles[1]);
  EXPECT_NE(Handles[1], Handles[2]);

  struct Created {
    const sim::VariableSpec& V;
    size_t Size;
    UINT32 Attributes;
  } const Expected[] = {{sim::vars::TalBladeData, 280, 6},
                        {sim::vars::SystemSetup, 731, 7},
                        {sim::vars::ServerSetup, 102, 7},
                        {sim::vars::ClpCommandFruIdList, 6, 6}};
  for (const Created& E : Expected) {
    EXPECT_EQ(Var(Blade, E.V), std::vector<uint8_t>(E.Size, 0));
    EXPECT_EQ(Blade.Firmware.Variables.Attributes(E.V.Name, E.V.Guid), E.Attributes);
  }
  EXPECT_FALSE(Blade.Firmware.Variables.Exists(sim::vars::CLPFailureFlag.Name,
                                               sim::vars::CLPFailureFlag.Guid));
}

TEST(SimBlade, OptionsLeaveOutProtocolsAndVariables) {
  sim::BladeOptions Options;
  Options.InstallPlatformInfo = false;
  Options.CreatePlatformVariables = false;
  sim::Blade Blade(Options);
  EXPECT_TRUE(Blade.Firmware.HandlesWith(PlatformInfoProtocolGuid).empty());
  EXPECT_EQ(Blade.Firmware.HandlesWith(IpmiTransportProtocolGuid).size(), 1u);
  EXPECT_FALSE(
      Blade.Firmware.Variables.Exists(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid));
}

TEST(SimBlade, ResetEndsTheBootUntilPowerCycle) {
  sim::Blade Blade;
  OnTrigger(Blade, ResetNow);
  Blade.Firmware.Clock.Advance(5);
  sim::BootOutcome Outcome = Blade.InstallProtocol(Trigger, nullptr);
  EXPECT_TRUE(Outcome.Reset);
  EXPECT_FALSE(Outcome.Returned);
  EXPECT_TRUE(Blade.ResetRequested());
  ASSERT_EQ(Blade.Firmware.Resets().size(), 1u);
  EXPECT_EQ(Blade.Firmware.Resets()[0].Type, EfiResetCold);
  EXPECT_EQ(Blade.Firmware.Resets()[0].Time, 5u);
  EXPECT_EQ(Blade.Firmware.CurrentTpl(), TPL_APPLICATION);

  {
    sim::ProblemCollector Problems;
    const size_t Calls = Blade.Firmware.Calls().size();
    EXPECT_FALSE(Blade.InstallCompletionSignal().Returned);
    EXPECT_EQ(Blade.Firmware.Calls().size(), Calls);
    EXPECT_EQ(Problems.Messages.size(), 1u);
  }

  Blade.PowerCycle();
  EXPECT_FALSE(Blade.ResetRequested());
  sim::BootOutcome Next = Blade.InstallProtocol(Trigger, nullptr);
  EXPECT_TRUE(Next.Returned);
  EXPECT_EQ(Next.Status, EFI_SUCCESS);
  EXPECT_EQ(Blade.Firmware.Resets().size(), 1u);
}

TEST(SimBlade, WaitingForeverEndsAsAHang) {
  sim::Blade Blade;
  Blade.Firmware.Clock.SetWatchdog(10ull * 1000 * 1000);
  OnTrigger(Blade, WaitForever);
  sim::BootOutcome Outcome = Blade.InstallProtocol(Trigger, nullptr);
  EXPECT_TRUE(Outcome.Hang);
  EXPECT_FALSE(Outcome.HangReason.empty());
  EXPECT_FALSE(Blade.ResetRequested());
  EXPECT_EQ(Blade.Firmware.CurrentTpl(), TPL_APPLICATION);
  EXPECT_EQ(Blade.Firmware.Stalls().size(), 11u);
}

TEST(SimBlade, PowerCycleKeepsNonVolatileStateAndFru) {
  sim::Blade Blade;
  Blade.Bmc.AddFruDevice(1, 64);
  Blade.Bmc.WriteFru(1, 10, {0xAB});
  auto& Vars = Blade.Firmware.Variables;
  std::vector<uint8_t> Setup(sim::vars::SystemSetup.Size, 0x11);
  Vars.Create(sim::vars::SystemSetup.Name, sim::vars::SystemSetup.Guid,
              sim::vars::SystemSetup.Attributes, Setup);
  Vars.Create(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid,
              sim::vars::TalBladeData.Attributes,
              std::vector<uint8_t>(sim::vars::TalBladeData.Size, 0x22));
  Vars.Create(sim::vars::CLPFailureFlag.Name, sim::vars::CLPFailureFlag.Guid,
              sim::vars::CLPFailureFlag.Attributes, {1});
  void* Leaked = nullptr;
  Bs(Blade)->AllocatePool(EfiBootServicesData, 5, &Leaked);
  Blade.Firmware.Clock.Advance(77);

  sim::ProblemCollector Problems;
  Blade.PowerCycle();
  ASSERT_EQ(Problems.Messages.size(), 1u);
  EXPECT_NE(Problems.Messages[0].find("leak: 5 bytes"), std::string::npos);

  EXPECT_EQ(Var(Blade, sim::vars::SystemSetup), Setup);
  EXPECT_EQ(Var(Blade, sim::vars::TalBladeData), std::vector<uint8_t>(280, 0));
  EXPECT_FALSE(Vars.Exists(sim::vars::CLPFailureFlag.Name, sim::vars::CLPFailureFlag.Guid));
  EXPECT_EQ(Blade.Bmc.ReadFru(1, 10, 1), std::vector<uint8_t>{0xAB});
  EXPECT_EQ(Blade.Firmware.Clock.Now(), 77u);
  EXPECT_EQ(Blade.Firmware.HandlesWith(IpmiTransportProtocolGuid).size(), 1u);
}

TEST(SimBlade, PortsFollowVirtualTime) {
  sim::Blade Blade;
  Blade.Platform.SetPortValue(sim::AdapterWaitInputPort, 0x12345678);
  Blade.Platform.SchedulePortValue(sim::AdapterReadyInputPort, sim::AdapterReadyInputBit, 100);
  Blade.Platform.SchedulePortValue(sim::AdapterReadyInputPort, 0, 200);

  EXPECT_EQ(PortRead32(sim::AdapterReadyInputPort), 0xFFFFFFFFu); // nothing drives it yet
  EXPECT_EQ(PortRead16(sim::AdapterWaitInputPort), 0x5678);
  EXPECT_EQ(PortRead16(sim::AdapterWaitInputPort + 2), 0x1234);
  Blade.Firmware.Clock.Advance(100);
  EXPECT_EQ(PortRead32(sim::AdapterReadyInputPort), sim::AdapterReadyInputBit);
  Blade.Firmware.Clock.Advance(100);
  EXPECT_EQ(PortRead32(sim::AdapterReadyInputPort), 0u);

  PortWrite32(sim::AdapterWaitInputPort, 0); // inputs cannot be written
  EXPECT_EQ(PortRead32(sim::AdapterWaitInputPort), 0x12345678u);
  const auto& Accesses = Blade.Platform.PortAccesses();
  ASSERT_EQ(Accesses.size(), 7u);
  EXPECT_TRUE(Accesses[5].Write);
  EXPECT_EQ(Accesses[4].Time, 200u);
}

TEST(SimBlade, CpuidDescribesTheTopology) {
  sim::Blade Blade;
  Blade.Platform.SetCpuTopology(2, 16);
  struct Case {
    UINT32 Leaf, SubLeaf;
    CpuidResult Expected;
  } const Cases[] = {
      {0, 0, {0x0B, 0, 0, 0}},
      {0x0B, 0, {1, 2, 0x100, 0}},
      {0x0B, 1, {4, 16, 0x201, 0}},
      {0x0B, 2, {0, 0, 2, 0}},
  };
  for (const Case& C : Cases) {
    CpuidResult R = Cpuid(C.Leaf, C.SubLeaf);
    EXPECT_EQ(std::vector<UINT32>({R.Eax, R.Ebx, R.Ecx, R.Edx}),
              std::vector<UINT32>({C.Expected.Eax, C.Expected.Ebx, C.Expected.Ecx, C.Expected.Edx}))
        << "leaf " << C.Leaf << " sub-leaf " << C.SubLeaf;
  }
  MsrWrite(0x19A, 0x12);
  EXPECT_EQ(MsrRead(0x19A), 0x12u);
  EXPECT_EQ(MsrRead(0x19B), 0u);
}

TEST(SimBlade, PlatformProtocolsAnswerAndRecord) {
  sim::Blade Blade;
  Blade.Platform.SetInfo(30, 1);
  Blade.Platform.FailInfo(29, EFI_DEVICE_ERROR);
  PLATFORM_INFO_PROTOCOL* Info = Blade.Platform.PlatformInfo();
  UINT64 Value = 99;
  EXPECT_EQ(Info->Query(30, &Value), EFI_SUCCESS);
  EXPECT_EQ(Value, 1u);
  EXPECT_EQ(Info->Query(7, &Value), EFI_SUCCESS);
  EXPECT_EQ(Value, 0u);
  EXPECT_EQ(Info->Query(29, &Value), EFI_DEVICE_ERROR);
  EXPECT_EQ(Blade.Platform.InfoQueries(), (std::vector<UINTN>{30, 7, 29}));

  // Answers that change from one query to the next, then the steady one again.
  Blade.Platform.QueueInfo(30, 0);
  Blade.Platform.QueueInfoFailure(30, EFI_NOT_READY);
  std::vector<EFI_STATUS> Statuses;
  std::vector<UINT64> Values;
  for (int I = 0; I < 3; ++I) {
    Value = 99;
    Statuses.push_back(Info->Query(30, &Value));
    Values.push_back(Value);
  }
  EXPECT_EQ(Statuses, (std::vector<EFI_STATUS>{EFI_SUCCESS, EFI_NOT_READY, EFI_SUCCESS}));
  EXPECT_EQ(Values, (std::vector<UINT64>{0, 99, 1}));

  Blade.Firmware.Clock.Advance(9);
  EXPECT_EQ(Blade.Platform.StatusCode()->ReportStatusCode(EFI_ERROR_CODE, 0xC000B3A0, 3, nullptr,
                                                          nullptr),
            EFI_SUCCESS);
  ASSERT_EQ(Blade.Platform.StatusCodes().size(), 1u);
  const sim::StatusCodeRecord& R = Blade.Platform.StatusCodes()[0];
  EXPECT_EQ(R.Time, 9u);
  EXPECT_EQ(R.Value, 0xC000B3A0u);
  EXPECT_EQ(R.Instance, 3u);
  EXPECT_FALSE(R.HasCallerId);
}

} // namespace
