// What the simulated blade offers the adapter arrival: adapter drivers with their CLP protocol and
// scripted Execute, MP services with an MSR set per processor, input levels over virtual time,
// the BMC's answers to the OEM wait messages, and things scheduled between calls into the driver.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hw/hw.h"
#include "sim/blade.h"
#include "sim/problems.h"

namespace {

constexpr EFI_GUID ClpGuid = {
    0xCBBEE336, 0x2682, 0x4CD6, {0x81, 0x8B, 0x0A, 0x0D, 0x96, 0x7E, 0x5A, 0x67}};
constexpr EFI_GUID PciIoGuid = {
    0x4CF5B200, 0x68B8, 0x4CA5, {0x9E, 0xEC, 0xB2, 0x3E, 0x3F, 0x50, 0x02, 0x9A}};
constexpr EFI_GUID MpGuid = {
    0x3FDDA605, 0xA76E, 0x4F46, {0xAD, 0x29, 0x12, 0xF4, 0x53, 0x1B, 0x3D, 0x08}};

EFI_BOOT_SERVICES* Bs(sim::Blade& B) {
  return B.Firmware.SystemTable()->BootServices;
}

// What a notification of AdapterClpProtocol saw, at the moment it ran.
struct Arrivals {
  void* Registration = nullptr;
  std::vector<EFI_HANDLE> Handles;
  std::vector<uint64_t> Times;
};
Arrivals* Seen = nullptr;

void EFIAPI OnArrival(EFI_EVENT, void*) {
  EFI_HANDLE Handle = nullptr;
  UINTN Size = sizeof Handle;
  sim::Blade& B = sim::Blade::Current();
  if (Bs(B)->LocateHandle(ByRegisterNotify, nullptr, Seen->Registration, &Size, &Handle) ==
      EFI_SUCCESS) {
    Seen->Handles.push_back(Handle);
    Seen->Times.push_back(B.Firmware.Clock.Now());
  }
}

// MP procedures: each sets bit 4 and its processor number in MSR 0x19A; one calls Stall, which no
// AP may.
void EFIAPI MarkWhoIAm(void* Argument) {
  auto* Mp = static_cast<EFI_MP_SERVICES_PROTOCOL*>(Argument);
  UINTN Me = 99;
  if (Mp != nullptr) {
    Mp->WhoAmI(Mp, &Me);
  }
  MsrWrite(0x19A, MsrRead(0x19A) | 0x10 | Me);
}
void EFIAPI Misbehave(void*) {
  sim::Blade::Current().Firmware.SystemTable()->BootServices->Stall(1);
}

void EFIAPI WaitForAdapterReady(EFI_EVENT, void*) {
  while ((PortRead32(0x50C) & 1) == 0) {
    sim::Blade::Current().Firmware.SystemTable()->BootServices->Stall(500000);
  }
}

class SimAdapterTest : public ::testing::Test {
protected:
  SimAdapterTest() {
    Seen = &Watched;
    EFI_EVENT Event = nullptr;
    Bs(Blade)->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnArrival, nullptr, &Event);
    Bs(Blade)->RegisterProtocolNotify(const_cast<EFI_GUID*>(&ClpGuid), Event,
                                      &Watched.Registration);
    Blade.Pci.Bridge("00:03.0", 5).Device(0, 0x8086, 0x10FB, 2);
  }
  ~SimAdapterTest() override { Seen = nullptr; }

  // Calls Execute as the driver does: from the record, with a 256-byte text and 4096-byte response.
  EFI_STATUS Execute(ADAPTER_CLP_PROTOCOL* Record, const std::string& Text, UINT32* Status,
                     std::vector<CHAR8>* Response = nullptr) {
    std::vector<CHAR8> Command(256, 0), Answer(4096, 0);
    std::memcpy(Command.data(), Text.data(), std::min<size_t>(Text.size(), 256));
    ADAPTER_CLP_EXECUTE Function;
    std::memcpy(&Function, reinterpret_cast<UINT8*>(Record) + 12, sizeof Function);
    EFI_STATUS Result = Function(Record, Command.data(), Answer.data(), Status);
    if (Response != nullptr) {
      *Response = Answer;
    }
    return Result;
  }

  sim::Blade Blade;
  Arrivals Watched;
};

TEST_F(SimAdapterTest, StartingInstallsTheRecordOnItsOwnHandleAndNotifiesInside) {
  sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
  Blade.Firmware.Clock.Advance(40);
  const sim::BootOutcome Outcome = Blade.StartAdapter(Nic, "05:00.1");
  ASSERT_TRUE(Outcome.Returned);
  EXPECT_EQ(Outcome.Status, EFI_SUCCESS);

  const EFI_HANDLE Own = Nic.Handle("05:00.1");
  ASSERT_EQ(Watched.Handles, std::vector<EFI_HANDLE>{Own}) << "notified once, inside the install";
  EXPECT_NE(Own, Blade.Pci.PciIoHandle("05:00.1"));
  ADAPTER_CLP_PROTOCOL* Record = nullptr;
  ASSERT_EQ(Bs(Blade)->HandleProtocol(Own, const_cast<EFI_GUID*>(&ClpGuid),
                                      reinterpret_cast<void**>(&Record)),
            EFI_SUCCESS);
  EXPECT_EQ(Record, Nic.Record("05:00.1"));
  // The packed layout: the controller at 0, the driver's own word at 8, Execute at 12.
  EFI_HANDLE Controller;
  UINT32 Word;
  std::memcpy(&Controller, Record, 8);
  std::memcpy(&Word, reinterpret_cast<UINT8*>(Record) + 8, 4);
  EXPECT_EQ(Controller, Blade.Pci.PciIoHandle("05:00.1"));
  EXPECT_EQ(Word, Nic.Signature());
  void* PciIo = nullptr;
  EXPECT_EQ(Bs(Blade)->HandleProtocol(Controller, const_cast<EFI_GUID*>(&PciIoGuid), &PciIo),
            EFI_SUCCESS);
  EXPECT_EQ(Nic.StartedOn(), std::vector<sim::PciAddress>{"05:00.1"});
}

TEST_F(SimAdapterTest, ExecuteAnswersFromItsScriptAndLogsEveryCall) {
  sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
  Nic.AnswerByDefault({0x0E00})
      .AnswerText("SET BootEnable=ENABLE", {0xF002}, 2)
      .AnswerCall(4, {0x0500, EFI_DEVICE_ERROR});
  Blade.StartAdapter(Nic, "05:00.0");
  ADAPTER_CLP_PROTOCOL* Record = Nic.Record("05:00.0");

  struct Step {
    const char* Text;
    UINT32 Word;
    EFI_STATUS Result;
  } const Steps[] = {
      {"SET BootEnable=ENABLE", 0xF002, EFI_SUCCESS},
      {"SET Other=1", 0x0E00, EFI_SUCCESS},
      {"SET BootEnable=ENABLE", 0xF002, EFI_SUCCESS},
      {"SET BootEnable=ENABLE", 0x0500, EFI_DEVICE_ERROR}, // call 4 goes by number
      {"SET BootEnable=ENABLE", 0x0E00, EFI_SUCCESS},      // the text answer is used up
  };
  for (const Step& S : Steps) {
    UINT32 Word = 0;
    std::vector<CHAR8> Response;
    EXPECT_EQ(Execute(Record, S.Text, &Word, &Response), S.Result) << S.Text;
    EXPECT_EQ(Word, S.Word) << S.Text;
    EXPECT_NE(Response[0], 0) << "the adapter writes an answer text";
  }
  ASSERT_EQ(Nic.Calls().size(), 5u);
  const sim::ExecuteCall& First = Nic.Calls()[0];
  EXPECT_EQ(First.Number, 1u);
  EXPECT_TRUE(First.ThisInstalled);
  EXPECT_EQ(First.Location, sim::PciAddress("05:00.0"));
  EXPECT_TRUE(First.StartedOn);
  EXPECT_TRUE(First.Terminated);
  EXPECT_TRUE(First.ResponseZeroed);
  EXPECT_EQ(Nic.Texts()[1], "SET Other=1");
}

TEST_F(SimAdapterTest, ACopyWithAnotherFunctionsHandleReachesThatFunction) {
  sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
  Blade.StartAdapter(Nic, "05:00.0");
  // As the adapter run does: a 20-byte copy whose controller is the next function's handle.
  alignas(8) UINT8 Copy[20];
  std::memcpy(Copy, Nic.Record("05:00.0"), 20);
  const EFI_HANDLE Next = Blade.Pci.PciIoHandle("05:00.1");
  std::memcpy(Copy, &Next, 8);
  UINT32 Word = 0;
  EXPECT_EQ(Execute(reinterpret_cast<ADAPTER_CLP_PROTOCOL*>(Copy), "exit", &Word), EFI_SUCCESS);
  const sim::ExecuteCall& Call = Nic.Calls().back();
  EXPECT_FALSE(Call.ThisInstalled);
  EXPECT_EQ(Call.Location, sim::PciAddress("05:00.1"));
  EXPECT_FALSE(Call.StartedOn);
  EXPECT_EQ(Call.Reserved, Nic.Signature());

  // A controller that is no PCI function is refused, and its status word left alone.
  const EFI_HANDLE Stranger = Blade.Firmware.HandlesWith(MpGuid)[0];
  std::memcpy(Copy, &Stranger, 8);
  Word = 0x1234;
  EXPECT_EQ(Execute(reinterpret_cast<ADAPTER_CLP_PROTOCOL*>(Copy), "exit", &Word),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Word, 0x1234u);
  EXPECT_FALSE(Nic.Calls().back().Location.has_value());
}

TEST_F(SimAdapterTest, EachDriverHasItsOwnExecuteAndAPowerCycleForgetsTheRecords) {
  sim::AdapterDriver& A = Blade.Adapters.Add("a");
  sim::AdapterDriver& B = Blade.Adapters.Add("b");
  Blade.StartAdapter(A, "05:00.0");
  Blade.StartAdapter(B, "05:00.1");
  // Read by value: Execute sits at an unaligned offset.
  const ADAPTER_CLP_EXECUTE OfA = A.Record("05:00.0")->Execute;
  const ADAPTER_CLP_EXECUTE OfB = B.Record("05:00.1")->Execute;
  EXPECT_NE(OfA, OfB);
  UINT32 Word = 0;
  Execute(B.Record("05:00.1"), "exit", &Word);
  EXPECT_EQ(A.Calls().size(), 0u);
  EXPECT_EQ(B.Calls().size(), 1u);

  Blade.PowerCycle();
  EXPECT_EQ(A.Record("05:00.0"), nullptr);
  EXPECT_TRUE(Blade.Firmware.HandlesWith(ClpGuid).empty());
  EXPECT_EQ(B.Calls().size(), 1u) << "the log outlives the boot";
}

TEST_F(SimAdapterTest, ScheduledThingsRunBetweenCallsInTimeOrder) {
  sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
  Blade.ScheduleCompletionSignal(3000);
  Blade.ScheduleAdapterStart(Nic, "05:00.1", 2000);
  Blade.ScheduleAdapterStart(Nic, "05:00.0", 2000);
  Blade.ScheduleAdapterStart(Nic, "05:00.0", 9000);

  std::vector<sim::ScheduledOutcome> Steps = Blade.RunScheduled(5000);
  ASSERT_EQ(Steps.size(), 3u);
  EXPECT_EQ(Steps[0].What, "adapter driver 8086 starts on 05:00.1");
  EXPECT_EQ(Steps[1].What, "adapter driver 8086 starts on 05:00.0");
  EXPECT_EQ(Steps[2].What, "completion signal");
  EXPECT_EQ(Steps[2].Started, 3000u);
  EXPECT_TRUE(Steps[2].Outcome.Returned);
  EXPECT_EQ(Watched.Times, (std::vector<uint64_t>{2000, 2000}));
  EXPECT_EQ(Blade.Firmware.Clock.Now(), 3000u);

  // Time already past: it runs at once, late.
  Blade.Firmware.Clock.Advance(10000);
  Steps = Blade.RunScheduled();
  ASSERT_EQ(Steps.size(), 1u);
  EXPECT_EQ(Steps[0].At, 9000u);
  EXPECT_EQ(Steps[0].Started, 13000u);
  EXPECT_EQ(Steps[0].Outcome.Status, EFI_ALREADY_STARTED);
}

TEST(SimMpServices, AllApplicationProcessorsRunTheProcedureOnTheirOwnMsrs) {
  sim::Blade Blade;
  Blade.Mp.SetApplicationProcessors(3);
  Blade.Mp.SetEnabled(2, false);
  Blade.Platform.SetProcessorMsr(3, 0x19A, 0x100);
  EFI_MP_SERVICES_PROTOCOL* Mp = nullptr;
  ASSERT_EQ(Bs(Blade)->LocateProtocol(const_cast<EFI_GUID*>(&MpGuid), nullptr,
                                      reinterpret_cast<void**>(&Mp)),
            EFI_SUCCESS);
  UINTN Total = 0, Enabled = 0;
  EXPECT_EQ(Mp->GetNumberOfProcessors(Mp, &Total, &Enabled), EFI_SUCCESS);
  EXPECT_EQ(Total, 4u);
  EXPECT_EQ(Enabled, 3u);

  UINTN* Failed = reinterpret_cast<UINTN*>(1);
  EXPECT_EQ(Mp->StartupAllAPs(Mp, MarkWhoIAm, FALSE, nullptr, 0, Mp, &Failed), EFI_SUCCESS);
  EXPECT_EQ(Failed, nullptr);
  EXPECT_EQ(Blade.Platform.ProcessorMsr(0, 0x19A), 0u) << "the boot processor runs nothing";
  EXPECT_EQ(Blade.Platform.ProcessorMsr(1, 0x19A), 0x11u);
  EXPECT_EQ(Blade.Platform.ProcessorMsr(2, 0x19A), 0u) << "disabled";
  EXPECT_EQ(Blade.Platform.ProcessorMsr(3, 0x19A), 0x113u);
  EXPECT_EQ(Blade.Platform.RunningProcessor(), 0u);
  ASSERT_EQ(Blade.Mp.Startups().size(), 1u);
  EXPECT_EQ(Blade.Mp.Startups()[0].Ran, (std::vector<UINTN>{1, 3}));
  EXPECT_TRUE(Blade.Mp.Startups()[0].Blocking);
  const std::vector<sim::MsrAccess>& Accesses = Blade.Platform.MsrAccesses();
  ASSERT_EQ(Accesses.size(), 4u);
  EXPECT_EQ(Accesses[3].Processor, 3u);
  EXPECT_TRUE(Accesses[3].Write);

  MsrWrite(0x19A, 0x12);
  EXPECT_EQ(Blade.Platform.Msr(0x19A), 0x12u) << "the boot processor's own again";
}

TEST(SimMpServices, RefusalsAndInjectedFailuresStartNobody) {
  sim::Blade Blade;
  EFI_MP_SERVICES_PROTOCOL* Mp = Blade.Mp.Protocol();
  Blade.Mp.FailStartupAllAPs(EFI_NOT_READY);
  EXPECT_EQ(Mp->StartupAllAPs(Mp, MarkWhoIAm, FALSE, nullptr, 0, nullptr, nullptr), EFI_NOT_READY);
  EXPECT_EQ(Mp->StartupAllAPs(Mp, nullptr, FALSE, nullptr, 0, nullptr, nullptr),
            EFI_INVALID_PARAMETER);
  Blade.Mp.SetApplicationProcessors(0);
  EXPECT_EQ(Mp->StartupAllAPs(Mp, MarkWhoIAm, FALSE, nullptr, 0, nullptr, nullptr),
            EFI_NOT_STARTED);
  EXPECT_TRUE(Blade.Platform.MsrAccesses().empty());
  EXPECT_EQ(Blade.Mp.Startups().size(), 3u);
}

TEST(SimMpServices, CanBeLeftOut) {
  sim::BladeOptions Without;
  Without.InstallMpServices = false;
  sim::Blade Blade(Without);
  EXPECT_TRUE(Blade.Firmware.HandlesWith(MpGuid).empty());
}

TEST(SimMpServices, AnApplicationProcessorCallingAFirmwareServiceIsAProblem) {
  sim::Blade Blade;
  EFI_MP_SERVICES_PROTOCOL* Mp = Blade.Mp.Protocol();
  sim::ProblemCollector Problems;
  EXPECT_EQ(Mp->StartupThisAP(Mp, Misbehave, 2, nullptr, 0, nullptr, nullptr), EFI_SUCCESS);
  ASSERT_EQ(Problems.Messages.size(), 1u);
  EXPECT_NE(Problems.Messages[0].find("application processor 2"), std::string::npos);
}

TEST(SimInputs, AStallThatPassesARiseMakesItVisible) {
  sim::Blade Blade;
  Blade.Platform.SetPortValue(0x50C, 0xFFFFFFFE);
  Blade.Platform.SetInputLevel(0x50C, 1u << 0, true, 1'200'000);
  Blade.Platform.SetInputLevel(0x548, 1u << 9, false);
  EFI_STALL Stall = Bs(Blade)->Stall;
  std::vector<UINT32> Seen;
  for (int I = 0; I < 4; ++I) {
    Seen.push_back(PortRead32(0x50C));
    Stall(500000);
  }
  EXPECT_EQ(Seen, (std::vector<UINT32>{0xFFFFFFFE, 0xFFFFFFFE, 0xFFFFFFFE, 0xFFFFFFFF}));
  EXPECT_EQ(PortRead32(0x548), 0xFFFFFDFFu) << "only bit 9 is driven low";

  // A level set for a time covers what was scheduled after it too.
  Blade.Platform.SchedulePortValue(0x548, 0xFFFFFFFF, 5'000'000);
  Blade.Platform.SetInputLevel(0x548, 1u << 9, false, 4'000'000);
  EXPECT_EQ(Blade.Platform.PortValueAt(0x548, 6'000'000), 0xFFFFFDFFu);
}

TEST(SimInputs, TheWatchdogEndsAWaitForAnInputThatNeverRisesAndSaysWhich) {
  sim::Blade Blade;
  Blade.Firmware.Clock.SetWatchdog(60ull * 1000 * 1000);
  Blade.Platform.SetInputLevel(0x50C, 1, false);
  EFI_EVENT Event = nullptr;
  void* Registration = nullptr;
  Bs(Blade)->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, WaitForAdapterReady, nullptr, &Event);
  Bs(Blade)->RegisterProtocolNotify(const_cast<EFI_GUID*>(&ClpGuid), Event, &Registration);
  const sim::BootOutcome Outcome = Blade.InstallProtocol(ClpGuid, nullptr);
  EXPECT_TRUE(Outcome.Hang);
  EXPECT_NE(Outcome.HangReason.find("watchdog"), std::string::npos) << Outcome.HangReason;
  EXPECT_NE(Outcome.HangReason.find("port 0x50C = 0xFFFFFFFE"), std::string::npos)
      << Outcome.HangReason;
}

TEST(SimOemMessages, TheBmcAcceptsTheWaitMessagesUnlessToldOtherwise) {
  sim::Blade Blade;
  IPMI_TRANSPORT_PROTOCOL* Ipmi = Blade.Bmc.Transport();
  UINT8 Begins[5] = {0x02, 0x00, 0x00, 0x43, 0x46};
  UINT8 Response[1] = {0xEE};
  UINT8 Size = 1;
  EXPECT_EQ(Ipmi->SendIpmiCommand(Ipmi, 0x30, 0, 0x30, Begins, 5, Response, &Size), EFI_SUCCESS);
  EXPECT_EQ(Size, 0);
  Blade.Bmc.InjectCompletion(0xC0, 1, {sim::ipmi::NetFnOem, sim::ipmi::CmdOemAdapterWait, {}, {}});
  Size = 1;
  EXPECT_EQ(Ipmi->SendIpmiCommand(Ipmi, 0x30, 0, 0x30, Begins, 5, Response, &Size),
            EFI_DEVICE_ERROR);
  EXPECT_EQ(Response[0], 0xC0);
  const std::vector<sim::IpmiRequest> Sent = Blade.Bmc.Requests(0x30, 0x30);
  ASSERT_EQ(Sent.size(), 2u);
  EXPECT_EQ(Sent[0].Data, (std::vector<uint8_t>{0x02, 0x00, 0x00, 0x43, 0x46}));
}

} // namespace
