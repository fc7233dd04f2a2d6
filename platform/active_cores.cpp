// The active-core setting.
#include "platform/active_cores.h"

#include "core/variables.h"
#include "hw/hw.h"
#include "platform/command_status.h"

namespace {

constexpr UINT32 CpuidExtendedTopology = 0x0B;
constexpr UINT32 ThreadLevel = 0;
constexpr UINT32 CoreLevel = 1;

UINT8 LogicalProcessorsAt(UINT32 Level) {
  return static_cast<UINT8>(Cpuid(CpuidExtendedTopology, Level).Ebx & 0xFF);
}

UINTN ActiveCoreByte(UINT8 CoreCount) {
  switch (CoreCount) {
  case 2:
    return SystemSetupField::ActiveCore2;
  case 4:
    return SystemSetupField::ActiveCore4;
  case 6:
    return SystemSetupField::ActiveCore6;
  default:
    return SystemSetupField::ActiveCoreOther;
  }
}

BOOLEAN IsDecimalDigit(CHAR8 C) {
  return C >= '0' && C <= '9';
}

} // namespace

UINT8 GetCoresPerPackage() {
  // Without leaf 0x0B a processor answers with the data of its highest leaf instead, so look
  // first. No topology, or one that reports no logical processors at a level, gives
  // UnknownCoreCount rather than a division by zero or a made-up count: an active-core command
  // then stores 0 in ActiveCoreOther and can never switch real cores off.
  if (Cpuid(0, 0).Eax < CpuidExtendedTopology) {
    return UnknownCoreCount;
  }
  const UINT8 PerPackage = LogicalProcessorsAt(CoreLevel);
  const UINT8 PerCore = LogicalProcessorsAt(ThreadLevel);
  if (PerCore == 0 || PerPackage == 0) {
    return UnknownCoreCount;
  }
  return static_cast<UINT8>(PerPackage / PerCore);
}

UINT8 ParseActiveCoreValue(const CHAR8* Text, UINT8 CoreCount) {
  UINT8 Number = 0;
  for (UINT8 I = 0; I < 2 && IsDecimalDigit(Text[I]); ++I) {
    Number = static_cast<UINT8>(Number * 10 + (Text[I] - '0'));
  }
  return Number == 0 || Number > CoreCount ? CoreCount : Number;
}

EFI_STATUS SetActiveCores(UINT8* SystemSetupData, UINT8 CoreCount, UINT8 Value, UINT8* Flags,
                          BOOLEAN* WriteSystemSetup) {
  UINT8& Byte = SystemSetupData[ActiveCoreByte(CoreCount)];
  if (Byte != Value) {
    Byte = Value;
    *WriteSystemSetup = TRUE;
    *Flags |= CommandFlagReset;
  }
  return EFI_SUCCESS;
}
