// The machine behind the hardware-access interface (hw/hw.h) on the host: the driver's port, MSR
// and CPUID accesses reach the current HostHardware, which the simulated blade is while it lives.
// It is a library of its own beneath the driver, so that the driver links against it as the image
// links against hw/x86.cpp.
#pragma once

#include "hw/hw.h"

namespace sim {

class HostHardware {
public:
  virtual UINT32 PortRead(UINT16 Port, unsigned Width) = 0;
  virtual void PortWrite(UINT16 Port, UINT32 Value, unsigned Width) = 0;
  virtual UINT64 ReadMsr(UINT32 Msr) = 0;
  virtual void WriteMsr(UINT32 Msr, UINT64 Value) = 0;
  virtual CpuidResult RunCpuid(UINT32 Leaf, UINT32 SubLeaf) const = 0;

protected:
  ~HostHardware() = default;
};

} // namespace sim
