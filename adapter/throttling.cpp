#include "adapter/throttling.h"

#include "core/driver_state.h"
#include "hw/hw.h"

namespace {

// The calling processor, then every enabled application processor at the same time; returns when
// all have finished.
void RunOnAllProcessors(EFI_MP_SERVICES_PROTOCOL* Mp, EFI_AP_PROCEDURE Procedure) {
  Procedure(nullptr);
  Mp->StartupAllAPs(Mp, Procedure, FALSE, nullptr, 0, nullptr, nullptr);
}

} // namespace

void EFIAPI ThrottleThisProcessor(void*) {
  MsrWrite(ClockModulationMsr, MsrRead(ClockModulationMsr) | ClockModulationThrottled);
}

void EFIAPI UnthrottleThisProcessor(void*) {
  MsrWrite(ClockModulationMsr, 0);
}

EFI_MP_SERVICES_PROTOCOL* ThrottleAllProcessors() {
  EFI_MP_SERVICES_PROTOCOL* Mp = nullptr;
  if (EFI_ERROR(Driver.BootServices->LocateProtocol(GuidPointer(EFI_MP_SERVICES_PROTOCOL_GUID),
                                                    nullptr, reinterpret_cast<void**>(&Mp)))) {
    return nullptr;
  }
  RunOnAllProcessors(Mp, ThrottleThisProcessor);
  return Mp;
}

void UnthrottleAllProcessors(EFI_MP_SERVICES_PROTOCOL* Mp) {
  if (Mp != nullptr) {
    RunOnAllProcessors(Mp, UnthrottleThisProcessor);
  }
}
