// The simulated blade: one machine with the firmware, the BMC and the platform around the driver.
// Tests and tools build a Blade, load the driver into it, make things happen and look at the
// results.
//
//   sim::Blade blade;                 // IPMI, platform information and status codes installed,
//   blade.Bmc.AddFruDevice(1, 4096);  // the platform variables created zero-filled
//   blade.LoadDriver();
//   EXPECT_EQ(blade.Platform.StatusCodes().size(), 0u);
//
// Only one Blade exists at a time: the firmware services, the platform protocols and the
// hardware-access functions reach its parts as the current instances (sim/current_instance.h).
#pragma once

#include "sim/bmc.h"
#include "sim/firmware.h"
#include "sim/host_hardware.h"
#include "sim/pci_bus.h"
#include "sim/platform.h"
#include "sim/platform_variables.h"
#include "sim/smbios.h"

namespace sim {

struct BladeOptions {
  bool InstallIpmiTransport = true;
  bool InstallPlatformInfo = true;
  bool InstallStatusCode = true;
  bool InstallSmbiosEdit = true;
  bool CreatePlatformVariables = true; // TalBladeData, both Setup variables, ClpCommandFruIdList
};

// How one call into the driver (its entry or a notification) ended.
struct BootOutcome {
  bool Returned = false; // the call came back
  EFI_STATUS Status = 0; // its status, when it came back with one
  bool Reset = false;    // ResetSystem ended the boot
  bool Hang = false;     // the virtual-time watchdog ended the boot
  std::string HangReason;
};

class Blade : public HostHardware {
public:
  Blade();
  explicit Blade(const BladeOptions& Options);
  ~Blade(); // reports pool leaks through the problem handler
  Blade(const Blade&) = delete;
  Blade& operator=(const Blade&) = delete;

  static Blade& Current();

  sim::Firmware Firmware;
  sim::Bmc Bmc;
  sim::Platform Platform;
  sim::Smbios Smbios;
  sim::PciBus Pci;

  // Calls DriverEntry with the simulated image handle and system table.
  BootOutcome LoadDriver();

  // Installs a protocol on a new handle (or on Handle); notifications run inside the call.
  BootOutcome InstallProtocol(const EFI_GUID& Guid, void* Interface, EFI_HANDLE* Handle = nullptr);

  // Installs CompletionSignalProtocol with an empty interface on a new handle.
  BootOutcome InstallCompletionSignal();

  // True once ResetSystem has ended the current boot.
  bool ResetRequested() const;

  // The machine behind the hardware-access interface (hw/hw.h) while this blade is the current
  // one: the PCI host bridge claims the configuration ports, the platform every other port, the
  // MSRs and CPUID.
  UINT32 PortRead(UINT16 Port, unsigned Width) override;
  void PortWrite(UINT16 Port, UINT32 Value, unsigned Width) override;
  UINT64 ReadMsr(UINT32 Msr) override;
  void WriteMsr(UINT32 Msr, UINT64 Value) override;
  CpuidResult RunCpuid(UINT32 Leaf, UINT32 SubLeaf) const override;

  // A new boot: driver-wide state re-initialised, volatile variables gone, the handle database,
  // events and pool emptied (leaks reported first), the default protocols installed again. The
  // BMC's FRU contents, non-volatile variables and the clock carry over.
  void PowerCycle();

private:
  void Boot();
  // Runs one call into the driver; a reset or a hang ends it and shows in the outcome.
  BootOutcome RunGuarded(EFI_STATUS (*Call)(void*), void* Arg);
  // False (with a problem reported) once a reset has ended the boot.
  bool BootStillRunning(const char* What);
  BladeOptions Options_;
  bool BootOver_ = false;
};

// Sets up the platform variables with their documented sizes, zero-filled, as other firmware would.
void CreatePlatformVariables(VariableStore& Variables);

} // namespace sim
