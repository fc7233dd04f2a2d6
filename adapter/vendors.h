// The PCI vendors whose adapters the driver treats in their own way.
#pragma once

#include "uefi/types.h"

constexpr UINT16 Vendor8086 = 0x8086; // ports addressed by number, keywords in its own vocabulary
constexpr UINT16 Vendor10DF = 0x10DF; // a two-port adapter takes function 1's commands with 0's
constexpr UINT16 Vendor14E4 = 0x14E4; // every function addressed as port 1

// The vendor/device words of the 0x14E4 adapters that need a reset after a change of their
// multi-function mode to MULTIFUNCTIONMODE=SF, and to MULTIFUNCTIONMODE=NPAR.
constexpr UINT32 Vendor14E4SfModeResets[] = {0x16AE14E4, 0x16A414E4};
constexpr UINT32 Vendor14E4NparModeResets[] = {0x168E14E4, 0x16A114E4};
