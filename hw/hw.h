// The small hardware-access interface. The image links the x86 implementation (hw/x86.cpp); the
// host links the simulated machine (sim/).
#pragma once

#include "uefi/types.h"

struct CpuidResult {
  UINT32 Eax;
  UINT32 Ebx;
  UINT32 Ecx;
  UINT32 Edx;
};

UINT16 PortRead16(UINT16 Port);
UINT32 PortRead32(UINT16 Port);
void PortWrite32(UINT16 Port, UINT32 Value);
UINT64 MsrRead(UINT32 Msr);
void MsrWrite(UINT32 Msr, UINT64 Value);
CpuidResult Cpuid(UINT32 Leaf, UINT32 SubLeaf);
