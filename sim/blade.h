// The simulated blade: one machine with the firmware, the BMC and the platform around the driver.
// Tests and tools build a Blade, load the driver into it, make things happen and look at the
// results.
//
//   sim::Blade blade;                 // IPMI, platform information and status codes installed,
//   blade.Bmc.AddFruDevice(1, 4096);  // the platform variables created zero-filled
//   blade.LoadDriver();
//   EXPECT_EQ(blade.Platform.StatusCodes().size(), 0u);
//
// Adapters arrive when their drivers start, now or at a virtual time between calls into the driver:
//
//   sim::AdapterDriver& Nic = blade.Adapters.Add("8086");
//   blade.LoadDriver();
//   blade.StartAdapter(Nic, "05:00.0");                  // its arrival runs in here
//   blade.ScheduleAdapterStart(Nic, "05:00.1", 2'000'000);
//   blade.ScheduleCompletionSignal(5'000'000);
//   for (const sim::ScheduledOutcome& Step : blade.RunScheduled()) ...
//
// Only one Blade exists at a time: the firmware services, the platform protocols and the
// hardware-access functions reach its parts as the current instances (sim/current_instance.h).
#pragma once

#include "sim/adapter_drivers.h"
#include "sim/bmc.h"
#include "sim/firmware.h"
#include "sim/host_hardware.h"
#include "sim/mp_services.h"
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
  bool InstallMpServices = true;
  bool CreatePlatformVariables = true; // TalBladeData, both Setup variables, ClpCommandFruIdList
};

// How one call into the driver (its entry or a notification) ended.
struct BootOutcome {
  bool Returned = false;  // the call came back
  EFI_STATUS Status = 0;  // its status, when it came back with one
  bool Reset = false;     // ResetSystem ended the boot
  bool Hang = false;      // the virtual-time watchdog ended the boot
  std::string HangReason; // the watchdog's words, and the last port the driver read
};

// One thing that happened at its virtual time in RunScheduled.
struct ScheduledOutcome {
  uint64_t At;      // when it was due
  uint64_t Started; // when it ran: later than At when a call into the driver was still running
  std::string What; // "adapter driver 8086 starts on 05:00.0", "completion signal"
  BootOutcome Outcome;
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
  sim::MpServices Mp;
  sim::AdapterDrivers Adapters;

  // Calls DriverEntry with the simulated image handle and system table.
  BootOutcome LoadDriver();

  // Installs a protocol on a new handle (or on Handle); notifications run inside the call.
  BootOutcome InstallProtocol(const EFI_GUID& Guid, void* Interface, EFI_HANDLE* Handle = nullptr);

  // Installs CompletionSignalProtocol with an empty interface on a new handle.
  BootOutcome InstallCompletionSignal();

  // Driver starts on the PCI function now (AdapterDrivers::Start); the arrival notification runs
  // inside the call.
  BootOutcome StartAdapter(AdapterDriver& Driver, PciAddress Function);

  // The same at virtual time At, and the completion signal at At: run by RunScheduled, as the
  // firmware's dispatcher starts drivers between the calls it makes, never inside one.
  void ScheduleAdapterStart(AdapterDriver& Driver, PciAddress Function, uint64_t At);
  void ScheduleCompletionSignal(uint64_t At);
  // Runs what is scheduled up to virtual time Until in time order (the order scheduled among
  // equal times). The clock moves on to each one's time first; one whose time has passed already
  // runs at once. Stops after a reset or a hang; what is left stays scheduled until a power cycle,
  // which drops it.
  std::vector<ScheduledOutcome> RunScheduled(uint64_t Until = UINT64_MAX);

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
  // What a hang report adds: the last input the driver read, which it may have waited on.
  std::string LastPortRead() const;
  struct ScheduledStart {
    uint64_t At;
    AdapterDriver* Driver; // none: the completion signal
    PciAddress Function;
  };
  BladeOptions Options_;
  bool BootOver_ = false;
  std::vector<ScheduledStart> Schedule_; // in the order scheduled
};

// Sets up the platform variables with their documented sizes, zero-filled, as other firmware would.
void CreatePlatformVariables(VariableStore& Variables);

} // namespace sim
