// The hardware-access interface on the host: the simulated blade's platform answers.
#include "hw/hw.h"
#include "sim/blade.h"

UINT16 PortRead16(UINT16 Port) {
  return static_cast<UINT16>(sim::Blade::Current().Platform.PortRead(Port, 16));
}

UINT32 PortRead32(UINT16 Port) {
  return sim::Blade::Current().Platform.PortRead(Port, 32);
}

void PortWrite32(UINT16 Port, UINT32 Value) {
  sim::Blade::Current().Platform.PortWrite(Port, Value, 32);
}

UINT64 MsrRead(UINT32 Msr) {
  return sim::Blade::Current().Platform.ReadMsr(Msr);
}

void MsrWrite(UINT32 Msr, UINT64 Value) {
  sim::Blade::Current().Platform.WriteMsr(Msr, Value);
}

CpuidResult Cpuid(UINT32 Leaf, UINT32 SubLeaf) {
  return sim::Blade::Current().Platform.RunCpuid(Leaf, SubLeaf);
}
