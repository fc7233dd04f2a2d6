// Real port, MSR and CPUID access for the EFI image.
#include "hw/hw.h"

UINT16 PortRead16(UINT16 Port) {
  UINT16 Value;
  __asm__ __volatile__("inw %w1, %w0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

UINT32 PortRead32(UINT16 Port) {
  UINT32 Value;
  __asm__ __volatile__("inl %w1, %k0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

void PortWrite32(UINT16 Port, UINT32 Value) {
  __asm__ __volatile__("outl %k0, %w1" : : "a"(Value), "Nd"(Port));
}

UINT64 MsrRead(UINT32 Msr) {
  UINT32 Low, High;
  __asm__ __volatile__("rdmsr" : "=a"(Low), "=d"(High) : "c"(Msr));
  return (static_cast<UINT64>(High) << 32) | Low;
}

void MsrWrite(UINT32 Msr, UINT64 Value) {
  __asm__ __volatile__("wrmsr"
                       :
                       : "c"(Msr), "a"(static_cast<UINT32>(Value)),
                         "d"(static_cast<UINT32>(Value >> 32))
                       : "memory");
}

CpuidResult Cpuid(UINT32 Leaf, UINT32 SubLeaf) {
  CpuidResult R;
  __asm__ __volatile__("cpuid"
                       : "=a"(R.Eax), "=b"(R.Ebx), "=c"(R.Ecx), "=d"(R.Edx)
                       : "a"(Leaf), "c"(SubLeaf));
  return R;
}
