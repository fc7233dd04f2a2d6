// Stand-in for the platform's SMBIOS editing driver: installs SmbiosEditProtocol on top of the
// firmware's own EFI_SMBIOS_PROTOCOL. Get hands out a pool copy of a structure; update replaces the
// structure with a given handle and keeps the handle (Remove, then Add asking for the same handle;
// the firmware republishes the table).
#include "core/protocols.h"
#include "firmware/common/pi_protocols.h"
#include "firmware/common/smbios_record.h"

namespace {

EFI_BOOT_SERVICES* BootServices = nullptr;

EFI_STATUS LocateSmbios(EFI_SMBIOS_PROTOCOL** Smbios) {
  return BootServices->LocateProtocol(GuidPointer(EFI_SMBIOS_PROTOCOL_GUID), nullptr,
                                      reinterpret_cast<void**>(Smbios));
}

void CopyBytes(UINT8* To, const UINT8* From, UINTN Size) {
  for (UINTN I = 0; I < Size; ++I) {
    To[I] = From[I];
  }
}

// A pool copy of Size bytes of Record, or null.
UINT8* PoolCopy(const UINT8* Record, UINTN Size) {
  void* Copy = nullptr;
  if (EFI_ERROR(BootServices->AllocatePool(EfiBootServicesData, Size, &Copy))) {
    return nullptr;
  }
  CopyBytes(static_cast<UINT8*>(Copy), Record, Size);
  return static_cast<UINT8*>(Copy);
}

// The record the firmware holds under Handle, and its size.
EFI_STATUS FindByHandle(EFI_SMBIOS_PROTOCOL* Smbios, UINT16 Handle, UINT8** Record, UINTN* Size) {
  EFI_SMBIOS_HANDLE Next = SMBIOS_HANDLE_PI_RESERVED;
  EFI_SMBIOS_TABLE_HEADER* Header = nullptr;
  // GetNext walks the firmware's list once; each call moves past one record.
  while (!EFI_ERROR(Smbios->GetNext(Smbios, &Next, nullptr, &Header, nullptr))) {
    if (Next == Handle) {
      *Record = reinterpret_cast<UINT8*>(Header);
      *Size = SmbiosRecordSize(*Record, SmbiosRecordMax);
      return *Size != 0 ? EFI_SUCCESS : EFI_DEVICE_ERROR;
    }
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI GetStructure(UINT8 Type, UINT8 Instance, UINT8** Structure, UINT16* Size) {
  if (Structure == nullptr || Size == nullptr || Instance == 0) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_SMBIOS_PROTOCOL* Smbios = nullptr;
  EFI_STATUS Status = LocateSmbios(&Smbios);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EFI_SMBIOS_HANDLE Next = SMBIOS_HANDLE_PI_RESERVED;
  EFI_SMBIOS_TYPE Wanted = Type;
  EFI_SMBIOS_TABLE_HEADER* Header = nullptr;
  UINT8 Seen = 0;
  while (!EFI_ERROR(Smbios->GetNext(Smbios, &Next, &Wanted, &Header, nullptr))) {
    if (++Seen != Instance) {
      continue;
    }
    const UINT8* Record = reinterpret_cast<const UINT8*>(Header);
    const UINTN RecordSize = SmbiosRecordSize(Record, SmbiosRecordMax);
    if (RecordSize == 0) {
      return EFI_DEVICE_ERROR;
    }
    UINT8* Copy = PoolCopy(Record, RecordSize);
    if (Copy == nullptr) {
      return EFI_OUT_OF_RESOURCES;
    }
    *Structure = Copy;
    *Size = static_cast<UINT16>(RecordSize);
    return EFI_SUCCESS;
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI UpdateStructure(UINT16 Handle, UINT8* Structure, UINT16 Size) {
  // The new record must be whole (its strings end inside Size) and carry the handle it replaces.
  if (Structure == nullptr || SmbiosRecordSize(Structure, Size) != Size ||
      SmbiosRecordHandle(Structure) != Handle) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_SMBIOS_PROTOCOL* Smbios = nullptr;
  EFI_STATUS Status = LocateSmbios(&Smbios);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINT8* Old = nullptr;
  UINTN OldSize = 0;
  if (EFI_ERROR(Status = FindByHandle(Smbios, Handle, &Old, &OldSize))) {
    return Status;
  }
  // Kept so that a refused Add can put the old record back: the table never loses the structure.
  UINT8* Saved = PoolCopy(Old, OldSize);
  UINT8* Replacement = PoolCopy(Structure, Size);
  if (Saved == nullptr || Replacement == nullptr) {
    Status = EFI_OUT_OF_RESOURCES;
  } else if (!EFI_ERROR(Status = Smbios->Remove(Smbios, Handle))) {
    EFI_SMBIOS_HANDLE Same = Handle;
    Status = Smbios->Add(Smbios, nullptr, &Same,
                         reinterpret_cast<EFI_SMBIOS_TABLE_HEADER*>(Replacement));
    if (EFI_ERROR(Status)) {
      EFI_SMBIOS_HANDLE Back = Handle;
      Smbios->Add(Smbios, nullptr, &Back, reinterpret_cast<EFI_SMBIOS_TABLE_HEADER*>(Saved));
    }
  }
  if (Saved != nullptr) {
    BootServices->FreePool(Saved);
  }
  if (Replacement != nullptr) {
    BootServices->FreePool(Replacement);
  }
  return Status;
}

SMBIOS_EDIT_PROTOCOL Protocol = {{}, GetStructure, UpdateStructure};

} // namespace

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE, EFI_SYSTEM_TABLE* SystemTable) {
  BootServices = SystemTable->BootServices;
  EFI_HANDLE Handle = nullptr;
  return BootServices->InstallProtocolInterface(&Handle, GuidPointer(SmbiosEditProtocolGuid),
                                                EFI_NATIVE_INTERFACE, &Protocol);
}
