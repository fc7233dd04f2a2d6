// Stand-in for the network and storage adapter drivers: a UEFI driver-model driver that the
// firmware connects to PCI functions. For each function the test harness has named, Start installs
// AdapterClpProtocol on a handle of its own, with ControllerHandle the function's PCI I/O handle,
// as an adapter driver does when it starts on its adapter. Execute serves every function the
// harness named, whichever record it is handed: it finds the function behind the record's
// controller handle, answers with the harness's answers for it and logs the call for the harness
// (firmware/common/adapter_standin.h).
#include "firmware/common/adapter_standin.h"
#include "firmware/common/pi_protocols.h"
#include "firmware/standins/adapter_book.h"
#include "uefi/pci_io.h"

namespace {

constexpr UINTN ExecuteLogMax = 512;
constexpr UINT32 DriverVersion = 0x10;
// What the stand-in keeps in the record's member after ControllerHandle, which the driver copies
// along and never reads.
constexpr UINT32 RecordTag = 0x41444150; // "PADA"
constexpr char ResponseText[] = "status=";

EFI_BOOT_SERVICES* BootServices = nullptr;
EFI_HANDLE ImageHandle = nullptr;
AdapterBook Book;
AdapterExecuteRecord ExecuteLog[ExecuteLogMax];
UINTN ExecuteCalls = 0;

EFI_STATUS LocationOf(EFI_HANDLE Controller, UINTN* Segment, AdapterLocation* Location) {
  EFI_PCI_IO_PROTOCOL* Io = nullptr;
  EFI_STATUS Status = BootServices->HandleProtocol(
      Controller, GuidPointer(EFI_PCI_IO_PROTOCOL_GUID), reinterpret_cast<void**>(&Io));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINTN Bus = 0, Device = 0, Function = 0;
  Status = Io->GetLocation(Io, Segment, &Bus, &Device, &Function);
  if (!EFI_ERROR(Status)) {
    *Location = AdapterLocation{static_cast<UINT8>(Bus), static_cast<UINT8>(Device),
                                static_cast<UINT8>(Function)};
  }
  return Status;
}

// A short answer text in the response buffer, as an adapter gives one, so that a driver that does
// not clear the buffer before the next command shows in the next record.
void WriteResponse(CHAR8* Response, UINT32 Word) {
  constexpr char Hex[] = "0123456789ABCDEF";
  UINTN At = 0;
  for (; ResponseText[At] != '\0'; ++At) {
    Response[At] = ResponseText[At];
  }
  for (int Shift = 12; Shift >= 0; Shift -= 4) {
    Response[At++] = Hex[(Word >> Shift) & 0xF];
  }
  Response[At] = '\0';
}

EFI_STATUS EFIAPI Execute(ADAPTER_CLP_PROTOCOL* This, CHAR8* CommandText, CHAR8* Response,
                          UINT32* Status) {
  AdapterExecuteRecord Scratch;
  AdapterExecuteRecord& R = ExecuteCalls < ExecuteLogMax ? ExecuteLog[ExecuteCalls] : Scratch;
  ++ExecuteCalls;
  R = AdapterExecuteRecord{};
  if (This == nullptr || CommandText == nullptr || Response == nullptr || Status == nullptr) {
    R.LocationStatus = EFI_INVALID_PARAMETER;
    R.Returned = EFI_INVALID_PARAMETER;
    return R.Returned;
  }
  R.OwnRecord = Book.Holds(This);
  DescribeBuffers(CommandText, Response, &R);
  UINTN Segment = 0;
  R.LocationStatus = LocationOf(This->ControllerHandle, &Segment, &R.Location);
  R.Segment = static_cast<UINT16>(Segment);
  AdapterAnswer Answer{EFI_UNSUPPORTED, 0};
  if (EFI_ERROR(R.LocationStatus) || Segment != 0 || !Book.NextAnswer(R.Location, &Answer)) {
    // Not a function this driver manages.
    Answer = AdapterAnswer{EFI_UNSUPPORTED, 0};
  }
  R.Returned = Answer.Returned;
  if (!EFI_ERROR(Answer.Returned)) {
    R.StatusWord = Answer.StatusWord;
    *Status = Answer.StatusWord;
    WriteResponse(Response, Answer.StatusWord);
  }
  return R.Returned;
}

// The function's PCI I/O, taken for this driver as an adapter driver takes its adapter's.
EFI_STATUS OpenPciIo(EFI_HANDLE Controller) {
  void* Io = nullptr;
  return BootServices->OpenProtocol(Controller, GuidPointer(EFI_PCI_IO_PROTOCOL_GUID), &Io,
                                    ImageHandle, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
}

EFI_STATUS EFIAPI Supported(EFI_DRIVER_BINDING_PROTOCOL*, EFI_HANDLE Controller,
                            EFI_DEVICE_PATH_PROTOCOL*) {
  UINTN Segment = 0;
  AdapterLocation Location{};
  if (EFI_ERROR(LocationOf(Controller, &Segment, &Location)) || Segment != 0) {
    return EFI_UNSUPPORTED;
  }
  const ManagedAdapter* A = Book.Find(Location);
  if (A == nullptr) {
    return EFI_UNSUPPORTED;
  }
  if (A->ProtocolHandle != nullptr) {
    return EFI_ALREADY_STARTED;
  }
  // Only a function no other driver has taken.
  EFI_STATUS Status = OpenPciIo(Controller);
  if (!EFI_ERROR(Status)) {
    BootServices->CloseProtocol(Controller, GuidPointer(EFI_PCI_IO_PROTOCOL_GUID), ImageHandle,
                                Controller);
  }
  return Status;
}

EFI_STATUS EFIAPI Start(EFI_DRIVER_BINDING_PROTOCOL*, EFI_HANDLE Controller,
                        EFI_DEVICE_PATH_PROTOCOL*) {
  UINTN Segment = 0;
  AdapterLocation Location{};
  EFI_STATUS Status = LocationOf(Controller, &Segment, &Location);
  ManagedAdapter* A = EFI_ERROR(Status) ? nullptr : Book.Find(Location);
  if (A == nullptr) {
    return EFI_UNSUPPORTED;
  }
  if (A->ProtocolHandle != nullptr) {
    return EFI_ALREADY_STARTED;
  }
  Status = OpenPciIo(Controller);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  A->Record.ControllerHandle = Controller;
  A->Record.Reserved = RecordTag;
  A->Record.Execute = Execute;
  // The driver's notification runs inside this installation, before Start returns.
  EFI_HANDLE Child = nullptr;
  Status = BootServices->InstallProtocolInterface(&Child, GuidPointer(AdapterClpProtocolGuid),
                                                  EFI_NATIVE_INTERFACE, &A->Record);
  if (EFI_ERROR(Status)) {
    BootServices->CloseProtocol(Controller, GuidPointer(EFI_PCI_IO_PROTOCOL_GUID), ImageHandle,
                                Controller);
    return Status;
  }
  A->ProtocolHandle = Child;
  // The adapter's handle is a child of the PCI function's, as the driver model records it.
  void* Io = nullptr;
  return BootServices->OpenProtocol(Controller, GuidPointer(EFI_PCI_IO_PROTOCOL_GUID), &Io,
                                    ImageHandle, Child, EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER);
}

// The stand-in never lets go of an adapter: its adapters stay for the rest of the boot.
EFI_STATUS EFIAPI Stop(EFI_DRIVER_BINDING_PROTOCOL*, EFI_HANDLE, UINTN, EFI_HANDLE*) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI Plan(ADAPTER_STANDIN_CONTROL*, const AdapterLocation* Location,
                       const AdapterAnswer* Answers, UINTN Count) {
  if (Location == nullptr || Answers == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Book.Plan(*Location, Answers, Count) ? EFI_SUCCESS : EFI_OUT_OF_RESOURCES;
}

EFI_HANDLE EFIAPI AdapterHandle(ADAPTER_STANDIN_CONTROL*, const AdapterLocation* Location) {
  const ManagedAdapter* A = Location != nullptr ? Book.Find(*Location) : nullptr;
  return A != nullptr ? A->ProtocolHandle : nullptr;
}

UINTN EFIAPI ExecuteCount(ADAPTER_STANDIN_CONTROL*) {
  return ExecuteCalls;
}

const AdapterExecuteRecord* EFIAPI ExecuteRecord(ADAPTER_STANDIN_CONTROL*, UINTN Index) {
  return Index < ExecuteCalls && Index < ExecuteLogMax ? &ExecuteLog[Index] : nullptr;
}

EFI_DRIVER_BINDING_PROTOCOL Binding = {Supported, Start, Stop, DriverVersion, nullptr, nullptr};
ADAPTER_STANDIN_CONTROL Control = {Plan, AdapterHandle, ExecuteCount, ExecuteRecord};

} // namespace

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE Image, EFI_SYSTEM_TABLE* SystemTable) {
  BootServices = SystemTable->BootServices;
  ImageHandle = Image;
  Binding.ImageHandle = Image;
  Binding.DriverBindingHandle = Image;
  EFI_STATUS Status = BootServices->InstallProtocolInterface(
      &ImageHandle, GuidPointer(EFI_DRIVER_BINDING_PROTOCOL_GUID), EFI_NATIVE_INTERFACE, &Binding);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return BootServices->InstallProtocolInterface(
      &ImageHandle, GuidPointer(AdapterStandInControlGuid), EFI_NATIVE_INTERFACE, &Control);
}
