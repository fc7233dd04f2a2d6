#include "sim/blade.h"

#include <cstdio>

#include "core/entry.h"
#include "sim/current_instance.h"
#include "sim/driver_image.h"
#include "sim/firmware_impl.h"
#include "sim/platform_variables.h"
#include "sim/problems.h"

namespace sim {
namespace {

struct InstallRequest {
  Firmware* Fw;
  const EFI_GUID* Guid;
  void* Interface;
  EFI_HANDLE* Handle;
};

EFI_STATUS RunInstall(void* Arg) {
  auto* R = static_cast<InstallRequest*>(Arg);
  return R->Fw->Install(R->Handle, *R->Guid, R->Interface);
}

EFI_STATUS RunEntry(void* Arg) {
  auto* Fw = static_cast<Firmware*>(Arg);
  return DriverEntry(Fw->ImageHandle(), Fw->SystemTable());
}

void CreateIfMissing(VariableStore& Variables, const VariableSpec& Var) {
  if (!Variables.Exists(Var.Name, Var.Guid)) {
    Variables.Create(Var.Name, Var.Guid, Var.Attributes, std::vector<uint8_t>(Var.Size, 0));
  }
}

} // namespace

void CreatePlatformVariables(VariableStore& Variables) {
  // CLPFailureFlag is not among them: its absence is how a boot starts.
  for (const VariableSpec* Var :
       {&vars::TalBladeData, &vars::SystemSetup, &vars::ServerSetup, &vars::ClpCommandFruIdList}) {
    CreateIfMissing(Variables, *Var);
  }
}

Blade::Blade() : Blade(BladeOptions{}) {}

Blade::Blade(const BladeOptions& Options)
    : Bmc(Firmware.Clock), Platform(Firmware.Clock), Smbios(Firmware.Pool), Pci(Firmware),
      Mp(Firmware, Platform), Adapters(Firmware, Pci), Options_(Options) {
  // Normally one blade; should a test build a second, the newest one is current until it goes.
  if (CurrentInstance<Blade>::Exists()) {
    ReportProblem("a second blade was built while another one exists");
  }
  CurrentInstance<Blade>::Add(this);
  CurrentInstance<HostHardware>::Add(this);
  // A new machine loads a fresh image of the driver.
  LoadFreshDriverImage();
  if (Options_.CreatePlatformVariables) {
    CreatePlatformVariables(Firmware.Variables);
  }
  Boot();
}

Blade::~Blade() {
  Firmware.Pool.ReportLeaks("at end of test");
  CurrentInstance<HostHardware>::Remove(this);
  CurrentInstance<Blade>::Remove(this);
}

Blade& Blade::Current() {
  return CurrentInstance<Blade>::Get("the simulated blade");
}

void Blade::Boot() {
  struct {
    bool Wanted;
    const EFI_GUID& Guid;
    void* Interface;
  } const Defaults[] = {
      {Options_.InstallIpmiTransport, IpmiTransportProtocolGuid, Bmc.Transport()},
      {Options_.InstallPlatformInfo, PlatformInfoProtocolGuid, Platform.PlatformInfo()},
      {Options_.InstallStatusCode, EFI_STATUS_CODE_RUNTIME_PROTOCOL_GUID, Platform.StatusCode()},
      {Options_.InstallSmbiosEdit, SmbiosEditProtocolGuid, Smbios.Protocol()},
      {Options_.InstallMpServices, EFI_MP_SERVICES_PROTOCOL_GUID, Mp.Protocol()},
  };
  for (const auto& D : Defaults) {
    if (D.Wanted) {
      EFI_HANDLE Handle = nullptr;
      Firmware.Install(&Handle, D.Guid, D.Interface);
    }
  }
  Pci.StartBoot();
  Bmc.StartBoot();
}

bool Blade::BootStillRunning(const char* What) {
  if (BootOver_) {
    ReportProblem(std::string(What) + " after a reset ended the boot; power cycle first");
    return false;
  }
  return true;
}

BootOutcome Blade::RunGuarded(EFI_STATUS (*Call)(void*), void* Arg) {
  BootOutcome Outcome;
  const EFI_TPL Tpl = Firmware.CurrentTpl();
  try {
    Outcome.Status = Call(Arg);
    Outcome.Returned = true;
  } catch (const SimulatedReset&) {
    Outcome.Reset = true;
    BootOver_ = true;
  } catch (const SimulatedHang& Hang) {
    Outcome.Hang = true;
    Outcome.HangReason = Hang.Reason + LastPortRead();
  }
  // A notify function unwound by a reset or a hang never lowered the TPL it ran at.
  Firmware.I->AbandonTpl(Tpl);
  return Outcome;
}

BootOutcome Blade::LoadDriver() {
  if (!BootStillRunning("LoadDriver")) {
    return {};
  }
  if (Firmware.CurrentTpl() != TPL_APPLICATION) {
    ReportProblem("the driver is loaded at TPL " + std::to_string(Firmware.CurrentTpl()));
  }
  return RunGuarded(RunEntry, &Firmware);
}

BootOutcome Blade::InstallProtocol(const EFI_GUID& Guid, void* Interface, EFI_HANDLE* Handle) {
  if (!BootStillRunning("InstallProtocol")) {
    return {};
  }
  EFI_HANDLE NewHandle = nullptr;
  InstallRequest Request{&Firmware, &Guid, Interface, Handle != nullptr ? Handle : &NewHandle};
  return RunGuarded(RunInstall, &Request);
}

BootOutcome Blade::InstallCompletionSignal() {
  return InstallProtocol(CompletionSignalProtocolGuid, nullptr);
}

namespace {

struct AdapterStart {
  AdapterDrivers* Drivers;
  AdapterDriver* Driver;
  PciAddress Function;
};

EFI_STATUS RunAdapterStart(void* Arg) {
  auto* S = static_cast<AdapterStart*>(Arg);
  return S->Drivers->Start(*S->Driver, S->Function);
}

} // namespace

BootOutcome Blade::StartAdapter(AdapterDriver& Driver, PciAddress Function) {
  if (!BootStillRunning("StartAdapter")) {
    return {};
  }
  AdapterStart Start{&Adapters, &Driver, Function};
  return RunGuarded(RunAdapterStart, &Start);
}

void Blade::ScheduleAdapterStart(AdapterDriver& Driver, PciAddress Function, uint64_t At) {
  Schedule_.push_back(ScheduledStart{At, &Driver, Function});
}

void Blade::ScheduleCompletionSignal(uint64_t At) {
  Schedule_.push_back(ScheduledStart{At, nullptr, PciAddress()});
}

std::vector<ScheduledOutcome> Blade::RunScheduled(uint64_t Until) {
  std::vector<ScheduledOutcome> Done;
  while (!BootOver_) {
    // The earliest due, the first scheduled among equals.
    auto Next = Schedule_.end();
    for (auto It = Schedule_.begin(); It != Schedule_.end(); ++It) {
      if (It->At <= Until && (Next == Schedule_.end() || It->At < Next->At)) {
        Next = It;
      }
    }
    if (Next == Schedule_.end()) {
      break;
    }
    const ScheduledStart Step = *Next;
    Schedule_.erase(Next);
    ScheduledOutcome Out{Step.At, 0, "completion signal", {}};
    if (Step.Driver != nullptr) {
      Out.What = "adapter driver " + Step.Driver->Name() + " starts on " + Step.Function.Text();
    }
    try {
      if (Firmware.Clock.Now() < Step.At) {
        Firmware.Clock.Advance(Step.At - Firmware.Clock.Now());
      }
    } catch (const SimulatedHang& Hang) {
      Out.Outcome.Hang = true;
      Out.Outcome.HangReason = Hang.Reason;
      Done.push_back(Out);
      break;
    }
    Out.Started = Firmware.Clock.Now();
    Out.Outcome = Step.Driver != nullptr ? StartAdapter(*Step.Driver, Step.Function)
                                         : InstallCompletionSignal();
    Done.push_back(Out);
    if (Out.Outcome.Hang) {
      break;
    }
  }
  return Done;
}

std::string Blade::LastPortRead() const {
  const auto& Accesses = Platform.PortAccesses();
  for (auto It = Accesses.rbegin(); It != Accesses.rend(); ++It) {
    if (!It->Write) {
      char Text[96];
      std::snprintf(Text, sizeof Text, "; the last input level read: port 0x%X = 0x%08X at %llu us",
                    It->Port, It->Value, static_cast<unsigned long long>(It->Time));
      return Text;
    }
  }
  return "";
}

UINT32 Blade::PortRead(UINT16 Port, unsigned Width) {
  return PciBus::Claims(Port) ? Pci.PortRead(Port, Width) : Platform.PortRead(Port, Width);
}

void Blade::PortWrite(UINT16 Port, UINT32 Value, unsigned Width) {
  if (PciBus::Claims(Port)) {
    Pci.PortWrite(Port, Value, Width);
  } else {
    Platform.PortWrite(Port, Value, Width);
  }
}

UINT64 Blade::ReadMsr(UINT32 Msr) {
  return Platform.ReadMsr(Msr);
}

void Blade::WriteMsr(UINT32 Msr, UINT64 Value) {
  Platform.WriteMsr(Msr, Value);
}

CpuidResult Blade::RunCpuid(UINT32 Leaf, UINT32 SubLeaf) const {
  return Platform.RunCpuid(Leaf, SubLeaf);
}

bool Blade::ResetRequested() const {
  return BootOver_;
}

void Blade::PowerCycle() {
  LoadFreshDriverImage();
  Firmware.NewBoot();
  Firmware.Variables.DropVolatile();
  // Other firmware creates the volatile platform variables again at every boot.
  if (Options_.CreatePlatformVariables) {
    CreatePlatformVariables(Firmware.Variables);
  }
  BootOver_ = false;
  Schedule_.clear();
  Adapters.StartBoot();
  Boot();
}

} // namespace sim
