// The service tables the driver sees: every member is a host function with the UEFI calling
// convention, reaching the current firmware. Services the driver has no use for answer
// EFI_UNSUPPORTED rather than leave a null pointer to jump through.
#include <cstring>

#include "sim/firmware_impl.h"

namespace sim {
namespace {

constexpr UINT32 TableRevision = (2u << 16) | 70u;
CHAR16 VendorName[] = u"Simulated blade";

Firmware::Impl& Fw() {
  return CurrentFirmware();
}

// Task priority, memory and events.

EFI_TPL EFIAPI RaiseTpl(EFI_TPL NewTpl) {
  return Fw().RaiseTpl(NewTpl);
}

void EFIAPI RestoreTpl(EFI_TPL OldTpl) {
  Fw().RestoreTpl(OldTpl);
}

bool ValidPoolType(EFI_MEMORY_TYPE Type) {
  return Type < EfiConventionalMemory || (Type >= 0x70000000u);
}

EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE Type, UINTN Size, void** Buffer) {
  if (Buffer == nullptr || !ValidPoolType(Type)) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status = EFI_SUCCESS;
  *Buffer = Fw().F.Pool.Allocate(Size, Type, &Status);
  return Status;
}

EFI_STATUS EFIAPI FreePool(void* Buffer) {
  return Fw().F.Pool.Free(Buffer);
}

EFI_STATUS EFIAPI CreateEvent(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify, void* Context,
                              EFI_EVENT* Event) {
  return Fw().CreateEvent(Type, Tpl, Notify, Context, Event);
}

EFI_STATUS EFIAPI CreateEventEx(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify,
                                const void* Context, const EFI_GUID* Group, EFI_EVENT* Event) {
  if (Group != nullptr) {
    return EFI_UNSUPPORTED;
  }
  return Fw().CreateEvent(Type, Tpl, Notify, const_cast<void*>(Context), Event);
}

EFI_STATUS EFIAPI SignalEvent(EFI_EVENT Event) {
  return Fw().SignalEvent(Event);
}

EFI_STATUS EFIAPI CloseEvent(EFI_EVENT Event) {
  return Fw().CloseEvent(Event);
}

EFI_STATUS EFIAPI CheckEvent(EFI_EVENT Event) {
  return Fw().CheckEvent(Event);
}

// Protocols and handles.

EFI_STATUS EFIAPI InstallProtocolInterface(EFI_HANDLE* Handle, EFI_GUID* Guid,
                                           EFI_INTERFACE_TYPE Type, void* Interface) {
  return Fw().Install(Handle, Guid, Type, Interface);
}

EFI_STATUS EFIAPI UninstallProtocolInterface(EFI_HANDLE Handle, EFI_GUID* Guid, void* Interface) {
  return Fw().Uninstall(Handle, Guid, Interface);
}

EFI_STATUS EFIAPI HandleProtocol(EFI_HANDLE Handle, EFI_GUID* Guid, void** Interface) {
  return Fw().HandleProtocol(Handle, Guid, Interface);
}

EFI_STATUS EFIAPI RegisterProtocolNotify(EFI_GUID* Guid, EFI_EVENT Event, void** Registration) {
  return Fw().RegisterProtocolNotify(Guid, Event, Registration);
}

EFI_STATUS EFIAPI LocateHandle(EFI_LOCATE_SEARCH_TYPE Search, EFI_GUID* Guid, void* Key,
                               UINTN* BufferSize, EFI_HANDLE* Buffer) {
  return Fw().LocateHandle(Search, Guid, Key, BufferSize, Buffer);
}

EFI_STATUS EFIAPI OpenProtocol(EFI_HANDLE Handle, EFI_GUID* Guid, void** Interface,
                               EFI_HANDLE Agent, EFI_HANDLE Controller, UINT32 Attributes) {
  (void)Agent;
  (void)Controller;
  return Fw().OpenProtocol(Handle, Guid, Interface, Attributes);
}

EFI_STATUS EFIAPI CloseProtocol(EFI_HANDLE Handle, EFI_GUID* Guid, EFI_HANDLE Agent,
                                EFI_HANDLE Controller) {
  (void)Agent;
  (void)Controller;
  void* Interface = nullptr;
  EFI_STATUS Status = Fw().OpenProtocol(Handle, Guid, &Interface, 0);
  return Status == EFI_UNSUPPORTED ? EFI_NOT_FOUND : Status;
}

EFI_STATUS EFIAPI LocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE Search, EFI_GUID* Guid, void* Key,
                                     UINTN* Count, EFI_HANDLE** Buffer) {
  return Fw().LocateHandleBuffer(Search, Guid, Key, Count, Buffer);
}

EFI_STATUS EFIAPI LocateProtocol(EFI_GUID* Guid, void* Registration, void** Interface) {
  return Fw().LocateProtocol(Guid, Registration, Interface);
}

// All the pairs go in, or none: a failure takes back the ones already installed. Notifications
// wait until the last one is in, as the firmware holds its TPL at TPL_NOTIFY meanwhile.
EFI_STATUS EFIAPI InstallMultipleProtocolInterfaces(EFI_HANDLE* Handle, ...) {
  if (Handle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<std::pair<EFI_GUID, void*>> Pairs;
  __builtin_ms_va_list Args;
  __builtin_ms_va_start(Args, Handle);
  while (EFI_GUID* Guid = __builtin_va_arg(Args, EFI_GUID*)) {
    Pairs.emplace_back(*Guid, __builtin_va_arg(Args, void*));
  }
  __builtin_ms_va_end(Args);

  Firmware::Impl& Impl = Fw();
  const EFI_HANDLE Given = *Handle;
  const EFI_TPL Old = Impl.RaiseTpl(TPL_NOTIFY);
  EFI_STATUS Status = EFI_SUCCESS;
  size_t Done = 0;
  for (; Done < Pairs.size() && Status == EFI_SUCCESS; ++Done) {
    Status = Impl.Install(Handle, &Pairs[Done].first, EFI_NATIVE_INTERFACE, Pairs[Done].second);
  }
  if (Status != EFI_SUCCESS) {
    for (size_t I = Done - 1; I-- > 0;) {
      Impl.Uninstall(*Handle, &Pairs[I].first, Pairs[I].second);
    }
    *Handle = Given;
  }
  Impl.RestoreTpl(Old);
  return Status;
}

EFI_STATUS EFIAPI UninstallMultipleProtocolInterfaces(EFI_HANDLE Handle, ...) {
  std::vector<std::pair<EFI_GUID, void*>> Pairs;
  __builtin_ms_va_list Args;
  __builtin_ms_va_start(Args, Handle);
  while (EFI_GUID* Guid = __builtin_va_arg(Args, EFI_GUID*)) {
    Pairs.emplace_back(*Guid, __builtin_va_arg(Args, void*));
  }
  __builtin_ms_va_end(Args);

  Firmware::Impl& Impl = Fw();
  for (size_t I = 0; I < Pairs.size(); ++I) {
    if (Impl.Uninstall(Handle, &Pairs[I].first, Pairs[I].second) != EFI_SUCCESS) {
      // Put back what was taken off; the handle survives because the failing protocol is on it.
      for (size_t J = 0; J < I; ++J) {
        Impl.InstallQuietly(&Handle, Pairs[J].first, Pairs[J].second);
      }
      return EFI_INVALID_PARAMETER;
    }
  }
  return EFI_SUCCESS;
}

// Miscellaneous services.

EFI_STATUS EFIAPI GetNextMonotonicCount(UINT64* Count) {
  if (Count == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Count = Fw().MonotonicCount++;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Stall(UINTN Microseconds) {
  return Fw().Stall(Microseconds);
}

EFI_STATUS EFIAPI CalculateCrc32(void* Data, UINTN Size, UINT32* Crc) {
  if (Data == nullptr || Size == 0 || Crc == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Crc = Crc32(Data, Size);
  return EFI_SUCCESS;
}

void EFIAPI CopyMem(void* Destination, void* Source, UINTN Length) {
  if (Length != 0) {
    std::memmove(Destination, Source, Length);
  }
}

void EFIAPI SetMem(void* Buffer, UINTN Size, UINT8 Value) {
  if (Size != 0) {
    std::memset(Buffer, Value, Size);
  }
}

// Runtime services.

EFI_STATUS EFIAPI GetVariable(CHAR16* Name, EFI_GUID* Guid, UINT32* Attributes, UINTN* DataSize,
                              void* Data) {
  return Fw().F.Variables.Get(Name, Guid, Attributes, DataSize, Data);
}

EFI_STATUS EFIAPI SetVariable(CHAR16* Name, EFI_GUID* Guid, UINT32 Attributes, UINTN DataSize,
                              void* Data) {
  return Fw().F.Variables.Set(Name, Guid, Attributes, DataSize, Data);
}

void EFIAPI ResetSystem(EFI_RESET_TYPE Type, EFI_STATUS Status, UINTN DataSize, void* Data) {
  (void)DataSize;
  (void)Data;
  Fw().ResetSystem(Type, Status);
}

void FillBootServices(EFI_BOOT_SERVICES& B) {
  std::memset(&B, 0, sizeof B);
  B.Hdr = {EFI_BOOT_SERVICES_SIGNATURE, TableRevision, sizeof B, 0, 0};
  B.RaiseTPL = RaiseTpl;
  B.RestoreTPL = RestoreTpl;
  SetUnsupported(B.AllocatePages);
  SetUnsupported(B.FreePages);
  SetUnsupported(B.GetMemoryMap);
  B.AllocatePool = AllocatePool;
  B.FreePool = FreePool;
  B.CreateEvent = CreateEvent;
  SetUnsupported(B.SetTimer);
  SetUnsupported(B.WaitForEvent);
  B.SignalEvent = SignalEvent;
  B.CloseEvent = CloseEvent;
  B.CheckEvent = CheckEvent;
  B.InstallProtocolInterface = InstallProtocolInterface;
  SetUnsupported(B.ReinstallProtocolInterface);
  B.UninstallProtocolInterface = UninstallProtocolInterface;
  B.HandleProtocol = HandleProtocol;
  B.Reserved = nullptr;
  B.RegisterProtocolNotify = RegisterProtocolNotify;
  B.LocateHandle = LocateHandle;
  SetUnsupported(B.LocateDevicePath);
  SetUnsupported(B.InstallConfigurationTable);
  SetUnsupported(B.LoadImage);
  SetUnsupported(B.StartImage);
  SetUnsupported(B.Exit);
  SetUnsupported(B.UnloadImage);
  SetUnsupported(B.ExitBootServices);
  B.GetNextMonotonicCount = GetNextMonotonicCount;
  B.Stall = Stall;
  SetUnsupported(B.SetWatchdogTimer);
  SetUnsupported(B.ConnectController);
  SetUnsupported(B.DisconnectController);
  B.OpenProtocol = OpenProtocol;
  B.CloseProtocol = CloseProtocol;
  SetUnsupported(B.OpenProtocolInformation);
  SetUnsupported(B.ProtocolsPerHandle);
  B.LocateHandleBuffer = LocateHandleBuffer;
  B.LocateProtocol = LocateProtocol;
  B.InstallMultipleProtocolInterfaces = InstallMultipleProtocolInterfaces;
  B.UninstallMultipleProtocolInterfaces = UninstallMultipleProtocolInterfaces;
  B.CalculateCrc32 = CalculateCrc32;
  B.CopyMem = CopyMem;
  B.SetMem = SetMem;
  B.CreateEventEx = CreateEventEx;
  B.Hdr.CRC32 = Crc32(&B, sizeof B);
}

void FillRuntimeServices(EFI_RUNTIME_SERVICES& R) {
  std::memset(&R, 0, sizeof R);
  R.Hdr = {EFI_RUNTIME_SERVICES_SIGNATURE, TableRevision, sizeof R, 0, 0};
  SetUnsupported(R.GetTime);
  SetUnsupported(R.SetTime);
  SetUnsupported(R.GetWakeupTime);
  SetUnsupported(R.SetWakeupTime);
  SetUnsupported(R.SetVirtualAddressMap);
  SetUnsupported(R.ConvertPointer);
  R.GetVariable = GetVariable;
  SetUnsupported(R.GetNextVariableName);
  R.SetVariable = SetVariable;
  SetUnsupported(R.GetNextHighMonotonicCount);
  R.ResetSystem = ResetSystem;
  SetUnsupported(R.UpdateCapsule);
  SetUnsupported(R.QueryCapsuleCapabilities);
  SetUnsupported(R.QueryVariableInfo);
  R.Hdr.CRC32 = Crc32(&R, sizeof R);
}

} // namespace

void FillServiceTables(EFI_SYSTEM_TABLE& System, EFI_BOOT_SERVICES& Boot,
                       EFI_RUNTIME_SERVICES& Runtime) {
  FillBootServices(Boot);
  FillRuntimeServices(Runtime);
  // Zeroed bytewise so that the padding after FirmwareRevision does not disturb the checksum.
  std::memset(&System, 0, sizeof System);
  System.Hdr = {EFI_SYSTEM_TABLE_SIGNATURE, TableRevision, sizeof System, 0, 0};
  System.FirmwareVendor = VendorName;
  System.FirmwareRevision = 0x00010000;
  System.RuntimeServices = &Runtime;
  System.BootServices = &Boot;
  System.Hdr.CRC32 = Crc32(&System, sizeof System);
}

} // namespace sim
