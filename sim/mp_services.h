// The simulated EFI_MP_SERVICES_PROTOCOL: the boot processor and N application processors (APs).
// StartupAllAPs runs the procedure on every enabled AP and, in blocking mode, returns when all have
// finished; the procedure's MSR accesses reach the registers of the AP that runs it
// (sim/platform.h). An AP procedure that calls a firmware service is a problem, as the PI
// standard allows none.
//
//   sim::Blade Blade;                      // MP services installed, three APs
//   Blade.Mp.SetApplicationProcessors(7);  // an eight-thread machine
//   Blade.Mp.FailStartupAllAPs(EFI_NOT_READY);
//   ...
//   for (UINTN Cpu = 0; Cpu < Blade.Mp.ProcessorCount(); ++Cpu)
//     EXPECT_EQ(Blade.Platform.ProcessorMsr(Cpu, sim::ClockModulationMsr), 0u);
//
// Whether the protocol is installed at all is BladeOptions::InstallMpServices.
#pragma once

#include <cstdint>
#include <vector>

#include "uefi/mp_services.h"

namespace sim {

class Firmware;
class Platform;

// One StartupAllAPs or StartupThisAP call as the caller made it, and what came of it.
struct ApStartup {
  uint64_t Time;
  bool AllAps;            // StartupAllAPs; StartupThisAP otherwise
  UINTN CallingProcessor; // who called: the boot processor unless an AP misbehaves
  EFI_AP_PROCEDURE Procedure;
  BOOLEAN SingleThread;  // StartupAllAPs only
  UINTN TargetProcessor; // StartupThisAP only
  bool Blocking;         // no WaitEvent
  UINTN Timeout;         // microseconds; 0 means none
  void* Argument;
  bool FailedCpuListAsked; // a place for the list of failed APs was given
  EFI_STATUS Result;
  std::vector<UINTN> Ran; // the APs that ran the procedure, in order
};

class MpServices {
public:
  MpServices(Firmware& Firmware, Platform& Platform);
  MpServices(const MpServices&) = delete;
  MpServices& operator=(const MpServices&) = delete;

  EFI_MP_SERVICES_PROTOCOL* Protocol() { return &Protocol_.Iface; }

  // Processors: the boot processor (number 0) and Count APs (1 to Count), all enabled. Default 3.
  void SetApplicationProcessors(UINTN Count);
  UINTN ProcessorCount() const { return 1 + Enabled_.size(); }
  // A disabled AP runs no procedure.
  void SetEnabled(UINTN Processor, bool Enabled);

  // The next Times StartupAllAPs calls (-1: every one) return Status without starting any AP.
  void FailStartupAllAPs(EFI_STATUS Status, int Times = 1);

  const std::vector<ApStartup>& Startups() const { return Startups_; }
  void ClearRecords() { Startups_.clear(); }

  // The protocol's behaviour.
  EFI_STATUS GetNumberOfProcessors(UINTN* Total, UINTN* Enabled);
  EFI_STATUS GetProcessorInfo(UINTN Processor, EFI_PROCESSOR_INFORMATION* Info);
  EFI_STATUS StartupAllAPs(EFI_AP_PROCEDURE Procedure, BOOLEAN SingleThread, EFI_EVENT WaitEvent,
                           UINTN Timeout, void* Argument, UINTN** FailedCpuList);
  EFI_STATUS StartupThisAP(EFI_AP_PROCEDURE Procedure, UINTN Processor, EFI_EVENT WaitEvent,
                           UINTN Timeout, void* Argument, BOOLEAN* Finished);
  EFI_STATUS EnableDisableAP(UINTN Processor, BOOLEAN Enable, UINT32* HealthFlag);
  EFI_STATUS WhoAmI(UINTN* Processor);

private:
  friend struct MpThunks; // the protocol's members, which find their MpServices through This
  struct ProtocolBlock {
    EFI_MP_SERVICES_PROTOCOL Iface;
    MpServices* Owner;
  };
  bool CalledFromAp() const;
  // Runs Procedure on one AP with the firmware services closed to it.
  void RunOn(UINTN Processor, EFI_AP_PROCEDURE Procedure, void* Argument);
  // A non-blocking call's event is signalled once the APs have finished.
  void Finish(EFI_EVENT WaitEvent);

  Firmware& Firmware_;
  Platform& Platform_;
  ProtocolBlock Protocol_;
  std::vector<bool> Enabled_; // entry I is AP I + 1
  EFI_STATUS FailStatus_ = EFI_SUCCESS;
  int FailTimes_ = 0;
  std::vector<ApStartup> Startups_;
};

} // namespace sim
