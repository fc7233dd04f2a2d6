// Slowing every processor down while the arrival waits for the adapters, through on-demand clock
// modulation (IA32_CLOCK_MODULATION), on the calling processor first and then on every enabled
// application processor at once through EFI_MP_SERVICES_PROTOCOL.
#pragma once

#include "uefi/mp_services.h"

constexpr UINT32 ClockModulationMsr = 0x19A;
// Bit 4 enables on-demand clock modulation; bits 3:1 = 001b pick the lowest duty cycle.
constexpr UINT64 ClockModulationThrottled = 0x12;

// Without MP services they do nothing at all, not even on the calling processor. Neither fails:
// the status of StartupAllAPs is not looked at. The speed-up goes through the interface the
// slow-down went through (null: nothing was slowed down), so that a lookup failing in between
// cannot leave the processors slowed down for the rest of the boot.
EFI_MP_SERVICES_PROTOCOL* ThrottleAllProcessors();
void UnthrottleAllProcessors(EFI_MP_SERVICES_PROTOCOL* Mp);

// The procedures each processor runs; the argument is not used.
void EFIAPI ThrottleThisProcessor(void* Argument);
void EFIAPI UnthrottleThisProcessor(void* Argument);
