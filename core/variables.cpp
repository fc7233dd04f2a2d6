#include "core/variables.h"

#include "core/driver_state.h"
#include "core/pool.h"

EFI_STATUS ReadPlatformVariable(const PlatformVariable& Var, void* Buffer, UINTN* DataSize) {
  *DataSize = Var.Size;
  return Driver.RuntimeServices->GetVariable(const_cast<CHAR16*>(Var.Name), GuidPointer(Var.Guid),
                                             nullptr, DataSize, Buffer);
}

EFI_STATUS WritePlatformVariable(const PlatformVariable& Var, void* Buffer, UINTN DataSize) {
  return Driver.RuntimeServices->SetVariable(const_cast<CHAR16*>(Var.Name), GuidPointer(Var.Guid),
                                             Var.Attributes, DataSize, Buffer);
}

EFI_STATUS SetBladeDataByte(UINT8 Index, UINT8 Value) {
  PoolBuffer Blade(TalBladeData.Size);
  if (EFI_ERROR(Blade.Status())) {
    return Blade.Status();
  }
  UINTN DataSize;
  EFI_STATUS Status = ReadPlatformVariable(TalBladeData, Blade.Data(), &DataSize);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Index >= BladeByteUuidValid && Index <= BladeByteIpl1Device) {
    Blade.Data()[Index - 1] = Value;
  }
  return WritePlatformVariable(TalBladeData, Blade.Data(), DataSize);
}

void ClearPendingFruId(UINT8 FruId) {
  UINT8 List[FruIdListEntries] = {};
  UINTN DataSize;
  if (EFI_ERROR(ReadPlatformVariable(ClpCommandFruIdList, List, &DataSize))) {
    return;
  }
  bool Matched = false;
  for (UINTN I = 0; I < FruIdListEntries; ++I) {
    if (List[I] == FruId) {
      List[I] = 0;
      Matched = true;
    }
  }
  if (Matched) {
    WritePlatformVariable(ClpCommandFruIdList, List, ClpCommandFruIdList.Size);
  }
}

EFI_STATUS FindPendingFruId(UINT8* FruId) {
  UINT8 List[FruIdListEntries] = {};
  UINTN DataSize;
  EFI_STATUS Status = ReadPlatformVariable(ClpCommandFruIdList, List, &DataSize);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  for (UINTN I = 0; I < FruIdListEntries; ++I) {
    if (List[I] != 0) {
      *FruId = List[I];
      return EFI_ABORTED;
    }
  }
  return Status;
}
