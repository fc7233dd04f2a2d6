// The hardware-access interface on the host: every access goes to the current simulated machine.
#include "sim/host_hardware.h"

#include "sim/current_instance.h"

namespace {

sim::HostHardware& Machine() {
  return sim::CurrentInstance<sim::HostHardware>::Get("the hardware-access interface");
}

} // namespace

UINT16 PortRead16(UINT16 Port) {
  return static_cast<UINT16>(Machine().PortRead(Port, 16));
}

UINT32 PortRead32(UINT16 Port) {
  return Machine().PortRead(Port, 32);
}

void PortWrite32(UINT16 Port, UINT32 Value) {
  Machine().PortWrite(Port, Value, 32);
}

UINT64 MsrRead(UINT32 Msr) {
  return Machine().ReadMsr(Msr);
}

void MsrWrite(UINT32 Msr, UINT64 Value) {
  Machine().WriteMsr(Msr, Value);
}

CpuidResult Cpuid(UINT32 Leaf, UINT32 SubLeaf) {
  return Machine().RunCpuid(Leaf, SubLeaf);
}
