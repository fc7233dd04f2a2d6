#include "sim/blade.h"

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
      Options_(Options) {
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
  };
  for (const auto& D : Defaults) {
    if (D.Wanted) {
      EFI_HANDLE Handle = nullptr;
      Firmware.Install(&Handle, D.Guid, D.Interface);
    }
  }
  Pci.StartBoot();
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
    Outcome.HangReason = Hang.Reason;
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
  Boot();
}

} // namespace sim
