#include "firmware/common/port_io_x86.h"

UINT8 PortRead8(UINT16 Port) {
  UINT8 Value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

void PortWrite8(UINT16 Port, UINT8 Value) {
  __asm__ __volatile__("outb %b0, %w1" : : "a"(Value), "Nd"(Port));
}

namespace {

UINT8 ReadPort(void*, UINT16 Port) {
  return PortRead8(Port);
}

void WritePort(void*, UINT16 Port, UINT8 Value) {
  PortWrite8(Port, Value);
}

void StallDelay(void* Context, UINT32 Microseconds) {
  static_cast<EFI_BOOT_SERVICES*>(Context)->Stall(Microseconds);
}

} // namespace

KcsPorts X86KcsPorts(EFI_BOOT_SERVICES* BootServices) {
  return KcsPorts{BootServices, ReadPort,           WritePort,
                  StallDelay,   KcsDefaultDataPort, KcsDefaultStatusPort};
}
