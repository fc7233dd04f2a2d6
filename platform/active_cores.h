// The number of active processor cores, kept in one of four SystemSetup bytes chosen by the
// package's core count.
#pragma once

#include "uefi/types.h"

// GetCoresPerPackage's answer when the processor does not tell its topology.
constexpr UINT8 UnknownCoreCount = 0;

// Cores per package from CPUID leaf 0x0B: logical processors at the core level divided by those
// at the thread level. UnknownCoreCount when the leaf is missing or reports 0 at either level.
UINT8 GetCoresPerPackage();

// The count at the start of Text (at most two decimal digits); CoreCount for 0, for no digit and
// for more than CoreCount.
UINT8 ParseActiveCoreValue(const CHAR8* Text, UINT8 CoreCount);

// Stores Value into the byte that CoreCount selects when it differs, then marks SystemSetup for
// writing and asks for a reset in Flags.
EFI_STATUS SetActiveCores(UINT8* SystemSetupData, UINT8 CoreCount, UINT8 Value, UINT8* Flags,
                          BOOLEAN* WriteSystemSetup);
