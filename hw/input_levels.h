// The two platform input levels the driver reads: 32-bit registers in I/O space.
#pragma once

#include "uefi/types.h"

constexpr UINT16 AdapterReadyPort = 0x50C; // bit 0: the adapters are ready
constexpr UINT32 AdapterReadyBit = 0x1;
constexpr UINT16 AdapterWaitPort = 0x548; // bit 9: waiting for the adapters is enabled
constexpr UINT32 AdapterWaitBit = 0x200;
