// The PCI vendors whose adapters the driver treats in their own way.
#pragma once

#include "uefi/types.h"

constexpr UINT16 Vendor8086 = 0x8086; // ports addressed by number, keywords in its own vocabulary
constexpr UINT16 Vendor10DF = 0x10DF; // a two-port adapter takes function 1's commands with 0's
constexpr UINT16 Vendor14E4 = 0x14E4; // every function addressed as port 1
