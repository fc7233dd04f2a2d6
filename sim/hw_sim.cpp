// The hardware-access interface on the host: the simulated blade's platform answers.
#include "hw/hw.h"
#include "sim/blade.h"

namespace {

// The I/O bus: the PCI host bridge claims the configuration ports, the platform the rest.
UINT32 IoRead(UINT16 Port, unsigned Width) {
  sim::Blade& B = sim::Blade::Current();
  return sim::PciBus::Claims(Port) ? B.Pci.PortRead(Port, Width) : B.Platform.PortRead(Port, Width);
}

} // namespace

UINT16 PortRead16(UINT16 Port) {
  return static_cast<UINT16>(IoRead(Port, 16));
}

UINT32 PortRead32(UINT16 Port) {
  return IoRead(Port, 32);
}

void PortWrite32(UINT16 Port, UINT32 Value) {
  sim::Blade& B = sim::Blade::Current();
  if (sim::PciBus::Claims(Port)) {
    B.Pci.PortWrite(Port, Value, 32);
  } else {
    B.Platform.PortWrite(Port, Value, 32);
  }
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
